#pragma once

#include <QString>
#include <QtGlobal>
#include <span>

namespace quill {

// A plain 16-bit PCM mono .wav file: what a recording is kept as when its compressed file
// could not be written, because any player or converter reads it without our encoder.
class WaveFile {
public:
    // Writes `samples` to a new file at `path`, readable and writable by the user only. On
    // failure nothing is left at `path` and `error` says why.
    static bool write(const QString& path, std::span<const qint16> samples, int sampleRate, QString& error);
};

} // namespace quill
