#pragma once

#include <functional>

namespace quill {

// The system's decision about this program's use of the microphone.
class MicrophoneAccess {
public:
    enum class Authorization { notDetermined = 0, restricted = 1, denied = 2, authorized = 3 };
    virtual ~MicrophoneAccess() = default;
    virtual Authorization authorization() = 0;
    // Asks the user; `answer` runs on the calling thread once the user has decided.
    virtual void requestAccess(std::function<void(bool granted)> answer) = 0;
};

} // namespace quill
