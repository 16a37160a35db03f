#pragma once

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
};

class NullAccessibilityStatus final : public AccessibilityStatus {
public:
    std::optional<bool> isEnabled() override { return std::nullopt; }
    bool setEnabled(bool) override { return false; }
};

// The org.a11y.Bus service on the session bus (property org.a11y.Status.IsEnabled). Each call
// waits at most `timeoutMs`; the service is never started on demand.
class DBusAccessibilityStatus final : public AccessibilityStatus {
public:
    explicit DBusAccessibilityStatus(int timeoutMs = 300);
    std::optional<bool> isEnabled() override;
    bool setEnabled(bool enabled) override;

private:
    int m_timeoutMs;
};

} // namespace quill
