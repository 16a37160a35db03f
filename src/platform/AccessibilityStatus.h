#pragma once

#include <functional>
#include <optional>

namespace quill {

// Whether the desktop's accessibility support is running and switched on.
class AccessibilityStatus {
public:
    virtual ~AccessibilityStatus() = default;
    // True when the accessibility bus answers; none, false or true for its "enabled" switch.
    virtual std::optional<bool> isEnabled() = 0;
    // Switches the desktop's accessibility support on or off; false when the bus did not accept it.
    virtual bool setEnabled(bool enabled) = 0;
    // Has `changed` called, on this thread, whenever isEnabled() may answer differently: the
    // switch was flipped, or the bus came or went. False when this status cannot tell; then a
    // caller that follows it asks again from time to time.
    virtual bool watch(const std::function<void()>&) { return false; }
};

} // namespace quill
