#pragma once

#include "platform/PcmSource.h"

#include <QByteArray>
#include <QString>
#include <chrono>
#include <thread>
#include <vector>

struct pa_context;
struct pa_source_info;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace quill {

// Records a source of the sound server through libpulse (PulseAudio or PipeWire's PulseAudio
// service): the one named at construction, or the default one. Each start opens a fresh
// connection, so a server that was started, restarted or switched to another default microphone
// since the last recording is found. A chosen source that is missing, or goes away while
// recording, gives way to the default one without a break in the delivery, and an unplugged
// default input to the next one; an output's monitor is never recorded, the recording ends
// instead. Reaching the server can take most of a second, so start() leaves it to a thread of its
// own and answers at once; a connection that fails ends the source through the handler's `ended`.
// Samples are delivered on libpulse's own thread.
class PulsePcmSource final : public PcmSource {
public:
    explicit PulsePcmSource(QString input = {},
                            std::chrono::milliseconds connectTimeout = std::chrono::seconds(3));
    ~PulsePcmSource() override;
    PulsePcmSource(const PulsePcmSource&) = delete;
    PulsePcmSource& operator=(const PulsePcmSource&) = delete;

    bool start(int sampleRate, Handler handler) override;
    void stop() override;
    QString errorString() const override { return m_error; }

private:
    // On the connecting thread: reaches the server, finds the input and starts the stream.
    void connectInBackground();
    bool connectContext();
    bool findSource();
    bool lookUpDefaultName();
    bool describe(const QByteArray& name, bool* found, bool* isMonitor, QString* description);
    bool openStream(const char* device);
    bool connectStream();
    void fallBack();
    void checkNewDevice(pa_stream* stream);
    template <typename Done> bool waitFor(Done done);
    void cancelTimeout();
    bool fail(const QString& what);
    void notifyEnded(const QString& reason);

    static void contextStateChanged(pa_context* context, void* self);
    static void streamStateChanged(pa_stream* stream, void* self);
    static void streamReadable(pa_stream* stream, size_t bytes, void* self);
    static void streamMoved(pa_stream* stream, void* self);
    static void newDeviceDescribed(pa_context* context, const pa_source_info* info, int eol, void* self);

    const QString m_input;
    std::chrono::milliseconds m_connectTimeout;
    int m_sampleRate = 0;
    std::chrono::steady_clock::time_point m_deadline;
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    std::vector<pa_stream*> m_deadStreams; // replaced by a fallback, let go at stop
    Handler m_handler;
    QByteArray m_sourceName;
    QString m_sourceDescription;
    bool m_onChosenInput = false;  // guarded by the loop lock
    bool m_checkingDevice = false; // the stream was moved or reopened; guarded by the loop lock
    bool m_lookupDone = false;
    pa_time_event* m_timeout = nullptr;
    bool m_timedOut = false;
    bool m_running = false;   // guarded by the loop lock
    bool m_abandoned = false; // guarded by the loop lock: stop() came while connecting
    std::thread m_connector;
    QString m_error;
};

} // namespace quill
