#include "PulseAudioInputList.h"

#include "platform/Log.h"

#include <pulse/pulseaudio.h>

namespace quill {

PulseAudioInputList::~PulseAudioInputList() {
    if (!m_loop) {
        return;
    }
    pa_threaded_mainloop_lock(m_loop);
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
    }
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseAudioInputList::watch() {
    if (m_loop) {
        return;
    }
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        return;
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Quillpoint");
    if (!m_context) {
        return;
    }
    pa_context_set_state_callback(m_context, &PulseAudioInputList::contextStateChanged, this);
    pa_context_set_subscribe_callback(
        m_context,
        [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
            static_cast<PulseAudioInputList*>(self)->requestList();
        },
        this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
        pa_threaded_mainloop_start(m_loop) < 0) {
        logLine(lcPlatform(), QStringLiteral("PulseAudioInputList"),
                QStringLiteral("cannot list the microphones: no sound server"));
    }
}

void PulseAudioInputList::contextStateChanged(pa_context* context, void* self) {
    auto* list = static_cast<PulseAudioInputList*>(self);
    if (pa_context_get_state(context) != PA_CONTEXT_READY) {
        return;
    }
    pa_operation_unref(pa_context_subscribe(
        context, pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER), nullptr,
        nullptr));
    list->requestList();
}

void PulseAudioInputList::requestList() {
    // Runs on libpulse's thread. A burst of events asks more than once; each answer is complete.
    pa_operation* operation = pa_context_get_source_info_list(
        m_context,
        [](pa_context*, const pa_source_info* info, int eol, void* self) {
            auto* list = static_cast<PulseAudioInputList*>(self);
            if (eol == 0 && info) {
                if (info->monitor_of_sink == PA_INVALID_INDEX) {
                    list->m_collecting.append(
                        {QString::fromUtf8(info->name),
                         QString::fromUtf8(info->description ? info->description : info->name)});
                }
                return;
            }
            QMetaObject::invokeMethod(
                list,
                [list, inputs = std::exchange(list->m_collecting, {})] {
                    if (inputs == list->m_inputs) {
                        return;
                    }
                    list->m_inputs = inputs;
                    emit list->changed();
                },
                Qt::QueuedConnection);
        },
        this);
    if (operation) {
        pa_operation_unref(operation);
    }
}

} // namespace quill
