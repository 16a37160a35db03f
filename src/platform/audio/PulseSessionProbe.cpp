#include "PulseSessionProbe.h"

#include <QElapsedTimer>
#include <pulse/pulseaudio.h>

namespace quill::audio {
namespace {

struct State {
    SoundFacts facts;
    pa_context* context = nullptr;
    bool done = false;
};

void onSourceInfo(pa_context*, const pa_source_info* info, int eol, void* data) {
    auto* state = static_cast<State*>(data);
    if (info) {
        state->facts.defaultSourceExists = true;
        state->facts.defaultSourceIsMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
    }
    if (eol != 0)
        state->done = true;
}

void onServerInfo(pa_context* context, const pa_server_info* info, void* data) {
    auto* state = static_cast<State*>(data);
    if (!info) {
        state->done = true;
        return;
    }
    state->facts.serverName =
        QString::fromUtf8(info->server_name) + u' ' + QString::fromUtf8(info->server_version);
    state->facts.defaultSource =
        QString::fromUtf8(info->default_source_name ? info->default_source_name : "");
    if (state->facts.defaultSource.isEmpty()) {
        state->done = true;
        return;
    }
    if (pa_operation* op =
            pa_context_get_source_info_by_name(context, info->default_source_name, &onSourceInfo, data))
        pa_operation_unref(op);
    else
        state->done = true;
}

void onContextState(pa_context* context, void* data) {
    auto* state = static_cast<State*>(data);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        state->facts.serverRunning = true;
        if (pa_operation* op = pa_context_get_server_info(context, &onServerInfo, data))
            pa_operation_unref(op);
        else
            state->done = true;
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        state->done = true;
        break;
    default:
        break;
    }
}

} // namespace

SoundFacts probe(int timeoutMs) {
    State state;
    pa_mainloop* loop = pa_mainloop_new();
    state.context = pa_context_new(pa_mainloop_get_api(loop), "Quillpoint diagnostics");
    pa_context_set_state_callback(state.context, &onContextState, &state);
    if (pa_context_connect(state.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        state.done = true;
    QElapsedTimer clock;
    clock.start();
    while (!state.done && clock.elapsed() < timeoutMs) {
        if (pa_mainloop_prepare(loop, 50'000) < 0 || pa_mainloop_poll(loop) < 0 ||
            pa_mainloop_dispatch(loop) < 0)
            break;
    }
    state.facts.answered = state.done;
    pa_context_disconnect(state.context);
    pa_context_unref(state.context);
    pa_mainloop_free(loop);
    return state.facts;
}

} // namespace quill::audio
