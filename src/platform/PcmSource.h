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
    };

    virtual ~PcmSource() = default;
    // Opens the default input and starts delivering to `handler`. False, with errorString(),
    // when there is no sound server or no input device.
    virtual bool start(int sampleRate, Handler handler) = 0;
    // Stops delivering. When it returns no handler call is running and none will follow.
    // Safe to call more than once.
    virtual void stop() = 0;
    virtual QString errorString() const = 0;
};

} // namespace quill
