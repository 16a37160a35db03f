#pragma once

#include "platform/AudioFileWriter.h"

#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace quill {

// A writer whose encoder may still have to be loaded when the recording starts. In the
// background mode create() returns at once: the encoder is loaded and the file created on a
// thread of its own, and the samples that arrive meanwhile are kept and written once it is
// there, so the start of a recording is neither delayed nor lost. A failure to load or create
// shows as the next write() failing, with errorString() telling why.
class DeferredAudioFileWriter final : public AudioFileWriter {
public:
    // Makes the real writer; may block. Null, with `error` set, when there is none.
    using Loader = std::function<std::unique_ptr<AudioFileWriter>(QString& error)>;
    enum class Mode { now, background };

    DeferredAudioFileWriter(Loader load, Mode mode);
    ~DeferredAudioFileWriter() override;
    DeferredAudioFileWriter(const DeferredAudioFileWriter&) = delete;
    DeferredAudioFileWriter& operator=(const DeferredAudioFileWriter&) = delete;

    bool create(const QString& path, int sampleRate) override;
    bool write(std::span<const float> samples) override;
    bool finish() override;
    void discard() override;
    QString errorString() const override;

private:
    // Loads and creates; true when `m_writer` is ready. Called with `m_mutex` not held.
    bool open(const QString& path, int sampleRate);
    void waitForLoader();

    Loader m_load;
    const Mode m_mode;
    std::thread m_loader;
    mutable std::mutex m_mutex;
    std::unique_ptr<AudioFileWriter> m_writer;
    std::vector<float> m_pending; // samples that arrived before the writer was ready
    QString m_error;
    bool m_failed = false;
    bool m_discarded = false;
};

} // namespace quill
