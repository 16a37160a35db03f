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

} // namespace quill
