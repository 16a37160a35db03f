#pragma once

#include "platform/AccessibilityStatus.h"

namespace quill {

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
