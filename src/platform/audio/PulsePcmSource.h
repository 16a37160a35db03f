#pragma once

#include "platform/PcmSource.h"

#include <QByteArray>
#include <chrono>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace quill {

// Records the sound server's default source through libpulse (PulseAudio or PipeWire's
// PulseAudio service). Each start opens a fresh connection, so a server that was started,
// restarted or switched to another default microphone since the last recording is found.
// Samples are delivered on libpulse's own thread.
class PulsePcmSource final : public PcmSource {
public:
    explicit PulsePcmSource(std::chrono::milliseconds connectTimeout = std::chrono::seconds(3));
    ~PulsePcmSource() override;
    PulsePcmSource(const PulsePcmSource&) = delete;
    PulsePcmSource& operator=(const PulsePcmSource&) = delete;

    bool start(int sampleRate, Handler handler) override;
    void stop() override;
    QString errorString() const override { return m_error; }

private:
    bool connectContext();
    bool findDefaultSource();
    bool connectStream(int sampleRate);
    template <typename Done> bool waitFor(Done done);
    void cancelTimeout();
    bool fail(const QString& what);
    void notifyEnded(const QString& reason);

    static void contextStateChanged(pa_context* context, void* self);
    static void streamStateChanged(pa_stream* stream, void* self);
    static void streamReadable(pa_stream* stream, size_t bytes, void* self);

    std::chrono::milliseconds m_connectTimeout;
    std::chrono::steady_clock::time_point m_deadline;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    Handler m_handler;
    QByteArray m_sourceName;
    bool m_sourceIsMonitor = false;
    bool m_lookupDone = false;
    pa_time_event* m_timeout = nullptr;
    bool m_timedOut = false;
    bool m_running = false; // guarded by the loop lock
    QString m_error;
};

} // namespace quill
