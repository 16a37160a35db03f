#pragma once

#include <functional>

namespace quill {

// The system's decision about this program's use of the microphone.
class MicrophoneAccess {
public:
    enum class Authorization { NotDetermined = 0, Restricted = 1, Denied = 2, Authorized = 3 };
    virtual ~MicrophoneAccess() = default;
    virtual Authorization authorization() = 0;
    // Asks the user; `answer` runs on the calling thread once the user has decided.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;
};

// A desktop session gives every user process the sound server's sources: nothing to ask.
class SessionMicrophoneAccess final : public MicrophoneAccess {
public:
    Authorization authorization() override { return Authorization::Authorized; }
    void requestAccess(std::function<void(bool)> answer) override { answer(true); }
};

} // namespace quill
