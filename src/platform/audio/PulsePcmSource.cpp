#include "PulsePcmSource.h"

#include "platform/AppInfo.h"

#include <pulse/pulseaudio.h>
#include <vector>

namespace quill {

namespace {

// Blocks of about 50 ms: often enough for a smooth level meter, rare enough to cost nothing.
constexpr pa_usec_t kFragmentUsec = 50'000;

} // namespace

PulsePcmSource::PulsePcmSource(QString input, std::chrono::milliseconds connectTimeout)
    : m_input(std::move(input))
    , m_connectTimeout(connectTimeout) {}

PulsePcmSource::~PulsePcmSource() {
    stop();
}

bool PulsePcmSource::start(int sampleRate, Handler handler) {
    stop();
    m_error.clear();
    m_handler = std::move(handler);
    m_sampleRate = sampleRate;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        return fail(QStringLiteral("out of memory"));
    }
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        fail(QStringLiteral("cannot start the sound server thread"));
        stop();
        return false;
    }
    m_abandoned = false;
    m_connector = std::thread([this] { connectInBackground(); });
    return true;
}

void PulsePcmSource::connectInBackground() {
    pa_threaded_mainloop_lock(m_loop);
    const bool ok = connectContext() && findSource() && connectStream();
    cancelTimeout();
    m_running = ok && !m_abandoned;
    if (!ok && !m_abandoned && m_handler.ended) {
        m_handler.ended(m_error);
    }
    pa_threaded_mainloop_unlock(m_loop);
}

void PulsePcmSource::stop() {
    if (!m_loop) {
        return;
    }
    if (m_connector.joinable()) {
        // A connection still on its way gives up at its next wait.
        pa_threaded_mainloop_lock(m_loop);
        m_abandoned = true;
        pa_threaded_mainloop_signal(m_loop, 0);
        pa_threaded_mainloop_unlock(m_loop);
        m_connector.join();
    }
    pa_threaded_mainloop_lock(m_loop);
    m_running = false;
    m_checkingDevice = false;
    cancelTimeout();
    if (m_stream) {
        pa_stream_set_read_callback(m_stream, nullptr, nullptr);
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    for (pa_stream* dead : m_deadStreams) {
        pa_stream_unref(dead);
    }
    m_deadStreams.clear();
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
    m_handler = {};
}

bool PulsePcmSource::connectContext() {
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
    // The sound settings of the desktop list the recording under this name and icon.
    pa_proplist* properties = pa_proplist_new();
    const QByteArray id = bundleIdentifier().toUtf8();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Quillpoint");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, id.constData());
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, id.constData());
    m_context = pa_context_new_with_proplist(api, "Quillpoint", properties);
    pa_proplist_free(properties);
    if (!m_context) {
        return fail(QStringLiteral("out of memory"));
    }
    pa_context_set_state_callback(m_context, &PulsePcmSource::contextStateChanged, this);
    // A tray program must not start a sound server of its own; it uses the one the session has.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return fail(QStringLiteral("no sound server"));
    }
    m_timedOut = false;
    m_timeout = pa_context_rttime_new(
        m_context, pa_rtclock_now() + pa_usec_t(m_connectTimeout.count()) * PA_USEC_PER_MSEC,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self) {
            auto* source = static_cast<PulsePcmSource*>(self);
            source->m_timedOut = true;
            pa_threaded_mainloop_signal(source->m_loop, 0);
        },
        this);
    const bool ready = waitFor([this] {
        const pa_context_state_t state = pa_context_get_state(m_context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!ready) {
        return fail(QStringLiteral("the sound server does not answer"));
    }
    if (pa_context_get_state(m_context) != PA_CONTEXT_READY) {
        return fail(QStringLiteral("no sound server"));
    }
    return true;
}

bool PulsePcmSource::findSource() {
    bool found = false;
    bool isMonitor = false;
    m_onChosenInput = false;
    if (!m_input.isEmpty()) {
        const QByteArray chosen = m_input.toUtf8();
        if (!describe(chosen, &found, &isMonitor, &m_sourceDescription))
            return false;
        if (found && !isMonitor) {
            m_sourceName = chosen;
            m_onChosenInput = true;
            return true;
        }
    }
    if (!lookUpDefaultName())
        return false;
    const bool chosenMissing = !m_input.isEmpty();
    const QString lostDescription = found ? m_sourceDescription : m_input;
    if (!describe(m_sourceName, &found, &isMonitor, &m_sourceDescription))
        return false;
    if (!found)
        return fail(QStringLiteral("no input device"));
    // With no microphone the server falls back to listening to an output; that is not the user's voice.
    if (isMonitor) {
        return fail(QStringLiteral("no input device (the default input %1 only monitors an output)")
                        .arg(QString::fromUtf8(m_sourceName)));
    }
    if (chosenMissing && m_handler.fellBack)
        m_handler.fellBack(lostDescription);
    return true;
}

bool PulsePcmSource::lookUpDefaultName() {
    m_sourceName.clear();
    m_lookupDone = false;
    pa_operation* operation = pa_context_get_server_info(
        m_context,
        [](pa_context*, const pa_server_info* info, void* self) {
            auto* source = static_cast<PulsePcmSource*>(self);
            if (info && info->default_source_name) {
                source->m_sourceName = info->default_source_name;
            }
            source->m_lookupDone = true;
            pa_threaded_mainloop_signal(source->m_loop, 0);
        },
        this);
    if (!operation) {
        return fail(QStringLiteral("cannot ask the sound server for its default input"));
    }
    const bool answered = waitFor([this] { return m_lookupDone; });
    pa_operation_unref(operation);
    if (!answered) {
        return fail(QStringLiteral("the sound server does not answer"));
    }
    if (m_sourceName.isEmpty()) {
        return fail(QStringLiteral("no input device"));
    }
    return true;
}

bool PulsePcmSource::describe(const QByteArray& name, bool* found, bool* isMonitor, QString* description) {
    *found = false;
    m_lookupDone = false;
    struct Lookup {
        PulsePcmSource* source;
        bool* found;
        bool* isMonitor;
        QString* description;
    } lookup{this, found, isMonitor, description};
    pa_operation* operation = pa_context_get_source_info_by_name(
        m_context, name.constData(),
        [](pa_context*, const pa_source_info* info, int eol, void* data) {
            auto* lookup = static_cast<Lookup*>(data);
            if (eol == 0 && info) {
                *lookup->found = true;
                *lookup->isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
                *lookup->description = QString::fromUtf8(info->description ? info->description : info->name);
                return;
            }
            lookup->source->m_lookupDone = true;
            pa_threaded_mainloop_signal(lookup->source->m_loop, 0);
        },
        &lookup);
    if (!operation) {
        return fail(QStringLiteral("cannot ask the sound server about its inputs"));
    }
    const bool described = waitFor([this] { return m_lookupDone; });
    pa_operation_unref(operation);
    if (!described) {
        return fail(QStringLiteral("the sound server does not answer"));
    }
    return true;
}

bool PulsePcmSource::openStream(const char* device) {
    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, uint32_t(m_sampleRate), 1};
    m_stream = pa_stream_new(m_context, "Recording", &format, nullptr);
    if (!m_stream) {
        return false;
    }
    pa_stream_set_state_callback(m_stream, &PulsePcmSource::streamStateChanged, this);
    pa_stream_set_read_callback(m_stream, &PulsePcmSource::streamReadable, this);
    pa_stream_set_moved_callback(m_stream, &PulsePcmSource::streamMoved, this);
    pa_buffer_attr attributes{};
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(-1);
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(-1);
    attributes.fragsize = uint32_t(pa_usec_to_bytes(kFragmentUsec, &format));
    return pa_stream_connect_record(m_stream, device, &attributes, PA_STREAM_ADJUST_LATENCY) >= 0;
}

bool PulsePcmSource::connectStream() {
    if (!openStream(m_sourceName.constData())) {
        return fail(m_stream ? QStringLiteral("cannot record from %1").arg(QString::fromUtf8(m_sourceName))
                             : QStringLiteral("cannot create a recording stream"));
    }
    const bool settled = waitFor([this] {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (!settled) {
        return fail(QStringLiteral("the sound server does not answer"));
    }
    if (pa_stream_get_state(m_stream) != PA_STREAM_READY) {
        return fail(QStringLiteral("cannot record from %1").arg(QString::fromUtf8(m_sourceName)));
    }
    return true;
}

template <typename Done> bool PulsePcmSource::waitFor(Done done) {
    while (!done() && !m_timedOut && !m_abandoned) {
        pa_threaded_mainloop_wait(m_loop);
    }
    return done();
}

void PulsePcmSource::cancelTimeout() {
    if (m_timeout) {
        pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_loop);
        api->time_free(m_timeout);
        m_timeout = nullptr;
    }
}

bool PulsePcmSource::fail(const QString& what) {
    m_error = what;
    if (m_context) {
        const int error = pa_context_errno(m_context);
        if (error != PA_OK) {
            m_error += QStringLiteral(": ") + QString::fromUtf8(pa_strerror(error));
        }
    }
    return false;
}

void PulsePcmSource::notifyEnded(const QString& reason) {
    if (!m_running) {
        return;
    }
    m_running = false;
    if (m_handler.ended) {
        m_handler.ended(reason);
    }
}

void PulsePcmSource::contextStateChanged(pa_context* context, void* self) {
    auto* source = static_cast<PulsePcmSource*>(self);
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
        source->notifyEnded(QString::fromUtf8(pa_strerror(pa_context_errno(context))));
    }
    pa_threaded_mainloop_signal(source->m_loop, 0);
}

void PulsePcmSource::streamStateChanged(pa_stream* stream, void* self) {
    auto* source = static_cast<PulsePcmSource*>(self);
    if (pa_stream_get_state(stream) == PA_STREAM_READY && source->m_running && source->m_checkingDevice) {
        source->checkNewDevice(stream);
    }
    const bool serverGood = PA_CONTEXT_IS_GOOD(pa_context_get_state(source->m_context));
    if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) && source->m_running && source->m_onChosenInput &&
        serverGood) {
        // The chosen input was unplugged (its stream killed): go on from the default one.
        source->fallBack();
    } else if (!PA_STREAM_IS_GOOD(pa_stream_get_state(stream))) {
        source->notifyEnded(QString::fromUtf8(pa_strerror(pa_context_errno(source->m_context))));
    }
    pa_threaded_mainloop_signal(source->m_loop, 0);
}

void PulsePcmSource::streamMoved(pa_stream* stream, void* self) {
    // Sound servers that rescue the streams of an unplugged input move them to another one,
    // the chosen input's as well as the default input's, and that can be an output's monitor.
    auto* source = static_cast<PulsePcmSource*>(self);
    const char* device = pa_stream_get_device_name(stream);
    if (!source->m_running || !device || source->m_sourceName == device) {
        return;
    }
    source->checkNewDevice(stream);
}

void PulsePcmSource::checkNewDevice(pa_stream* stream) {
    // Nothing is delivered until the new device is known not to be what the speakers play.
    m_checkingDevice = true;
    pa_operation* operation = pa_context_get_source_info_by_index(
        m_context, pa_stream_get_device_index(stream), &PulsePcmSource::newDeviceDescribed, this);
    if (operation) {
        pa_operation_unref(operation);
    } else {
        notifyEnded(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
    }
}

void PulsePcmSource::newDeviceDescribed(pa_context*, const pa_source_info* info, int eol, void* self) {
    auto* source = static_cast<PulsePcmSource*>(self);
    if (eol > 0 || !source->m_checkingDevice) {
        return;
    }
    source->m_checkingDevice = false;
    const QString lost = source->m_sourceDescription;
    if (eol < 0 || !info) {
        source->notifyEnded(QStringLiteral("%1 is gone").arg(lost));
        return;
    }
    if (info->monitor_of_sink != PA_INVALID_INDEX) {
        source->notifyEnded(QStringLiteral("%1 is gone and no other input is left").arg(lost));
        return;
    }
    source->m_onChosenInput = false;
    source->m_sourceName = info->name;
    source->m_sourceDescription = QString::fromUtf8(info->description ? info->description : info->name);
    if (source->m_handler.fellBack) {
        source->m_handler.fellBack(lost);
    }
}

void PulsePcmSource::fallBack() {
    // Runs on the loop's thread inside the dying stream's own callback, which still uses it: it
    // is let go in stop(). The new stream connects asynchronously.
    m_onChosenInput = false;
    pa_stream_set_read_callback(m_stream, nullptr, nullptr);
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_moved_callback(m_stream, nullptr, nullptr);
    m_deadStreams.push_back(m_stream);
    m_stream = nullptr;
    m_sourceName.clear();
    // No device: the server's default input, whichever it is by now. Once it is connected we
    // know which one that is; until then nothing is delivered.
    m_checkingDevice = true;
    if (!openStream(nullptr)) {
        notifyEnded(QString::fromUtf8(pa_strerror(pa_context_errno(m_context))));
        return;
    }
}

void PulsePcmSource::streamReadable(pa_stream* stream, size_t, void* self) {
    auto* source = static_cast<PulsePcmSource*>(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) {
            return;
        }
        if (source->m_running && !source->m_checkingDevice && source->m_handler.samples) {
            const size_t count = bytes / sizeof(float);
            if (data) {
                source->m_handler.samples(std::span(static_cast<const float*>(data), count));
            } else {
                // A gap the server could not fill: keep the timeline with silence.
                const std::vector<float> silence(count, 0.0f);
                source->m_handler.samples(silence);
            }
        }
        pa_stream_drop(stream);
    }
}

} // namespace quill
