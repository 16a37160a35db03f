#pragma once

#include "platform/AudioFileWriter.h"

#include <QLibrary>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>

namespace quill {

// The audio encoder lives in a module of its own (quillpoint-aac.so), loaded when the first
// recording needs it, so that the libraries behind it cost nothing while the program waits.
class AudioEncoderModule {
public:
    static constexpr const char* fileName = "quillpoint-aac.so";
    // The function the module exports; the caller owns the writer it returns.
    static constexpr const char* factorySymbol = "quillpoint_create_audio_file_writer";

    // `candidates` are the module's possible paths, in the order they are tried.
    explicit AudioEncoderModule(QStringList candidates);
    // $QUILLPOINT_MODULE_DIR when set, next to the executable (the build tree), then the
    // install's library directory, found from the executable's own directory and, failing
    // that, as configured.
    static QStringList defaultLocations(const QString& executableDir);

    // The first candidate that exists; empty when there is none.
    QString path() const;
    bool isLoaded() const;
    // True when createWriter() returns at once: the module is loaded, missing, or known not to
    // load.
    bool answersAtOnce() const;
    // Loads the module, once, and makes a new writer. May block while the libraries load; safe
    // on any thread. Null, with `error` set, when the module is missing or cannot be loaded.
    std::unique_ptr<AudioFileWriter> createWriter(QString& error);

private:
    using Factory = AudioFileWriter* (*)();

    const QStringList m_candidates;
    mutable std::mutex m_mutex;
    QLibrary m_library;
    Factory m_factory = nullptr;
    QString m_loadError;
};

} // namespace quill
