#pragma once

#include "platform/AudioInputList.h"

struct pa_context;
struct pa_threaded_mainloop;

namespace quill {

// The sound server's sources through libpulse, monitors of outputs left out. Follows the
// server's source events on libpulse's thread and hands each new list to the main thread.
class PulseAudioInputList final : public AudioInputList {
    Q_OBJECT
public:
    using AudioInputList::AudioInputList;
    ~PulseAudioInputList() override;

    void watch() override;
    QList<AudioInput> inputs() const override { return m_inputs; }

private:
    void requestList();
    static void contextStateChanged(pa_context* context, void* self);

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    QList<AudioInput> m_collecting; // on libpulse's thread
    QList<AudioInput> m_inputs;
};

} // namespace quill
