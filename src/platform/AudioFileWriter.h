#pragma once

#include <QString>
#include <span>

namespace quill {

// Encodes mono float samples into a compressed audio file.
class AudioFileWriter {
public:
    virtual ~AudioFileWriter() = default;
    // Creates the file at `path`, which must not exist yet, readable and writable by the user
    // only. On failure nothing is left at `path`.
    virtual bool create(const QString& path, int sampleRate) = 0;
    // False once the file cannot take more data (e.g. the disk is full); errorString() says why.
    virtual bool write(std::span<const float> samples) = 0;
    // Encodes what is still buffered and completes the file. False when the file is unusable.
    virtual bool finish() = 0;
    // Abandons the file and removes it.
    virtual void discard() = 0;
    virtual QString errorString() const = 0;
};

} // namespace quill
