#pragma once

#include "platform/AccessibilityStatus.h"

#include <QElapsedTimer>
#include <QObject>
#include <memory>

class QDBusMessage;
class QDBusServiceWatcher;

namespace quill {

// The org.a11y.Bus service on the session bus (property org.a11y.Status.IsEnabled). Each call
// waits at most `timeoutMs`, and after an unanswered one isEnabled() answers none at once for a
// few seconds; the service is never started on demand.
class DBusAccessibilityStatus final : public QObject, public AccessibilityStatus {
    Q_OBJECT
public:
    explicit DBusAccessibilityStatus(int timeoutMs = 300);
    ~DBusAccessibilityStatus() override;
    std::optional<bool> isEnabled() override;
    bool setEnabled(bool enabled) override;
    // The bus launcher announces each flip of the switch with PropertiesChanged.
    bool watch(const std::function<void()>& changed) override;

private slots:
    void propertiesChanged(const QDBusMessage& message);

private:
    int m_timeoutMs;
    QElapsedTimer m_silence; // since a call went unanswered
    std::function<void()> m_changed;
    std::unique_ptr<QDBusServiceWatcher> m_serviceWatcher;
};

} // namespace quill
