#pragma once

#include <QString>
#include <functional>
#include <span>

namespace quill {

// The user's microphone as a stream of mono 32-bit float samples at a chosen rate.
class PcmSource {
public:
    struct Handler {
        // Each block of samples as it arrives, on the source's own thread.
        std::function<void(std::span<const float> samples)> samples;
        // At most once, on the source's own thread, when the source stops delivering by itself
        // (the sound server went away or dropped the stream).
        std::function<void(const QString& reason)> ended;
        // On the source's own thread, when the chosen input is missing at the start or goes away
        // during the recording, which then goes on from the default input. Gets the lost
        // input's description.
        std::function<void(const QString& lostInput)> fellBack;
    };

    virtual ~PcmSource() = default;
    // Opens the input the source was made for (the default one unless chosen) and starts
    // delivering to `handler`. False, with errorString(), when there is no sound server or no
    // input device. A source that reaches its sound server in the background answers true at
    // once and reports a failed start through `ended`, before any sample.
    virtual bool start(int sampleRate, Handler handler) = 0;
    // Stops delivering. When it returns no handler call is running and none will follow.
    // Safe to call more than once.
    virtual void stop() = 0;
    virtual QString errorString() const = 0;
};

} // namespace quill
