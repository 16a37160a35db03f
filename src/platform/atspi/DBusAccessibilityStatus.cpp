#include "DBusAccessibilityStatus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>

namespace quill {
namespace {

const QString kService = QStringLiteral("org.a11y.Bus");
const QString kPath = QStringLiteral("/org/a11y/bus");
const QString kStatusInterface = QStringLiteral("org.a11y.Status");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

DBusAccessibilityStatus::DBusAccessibilityStatus(int timeoutMs) : m_timeoutMs(timeoutMs) {}

std::optional<bool> DBusAccessibilityStatus::isEnabled() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kPropertiesInterface, QStringLiteral("Get"));
    call << kStatusInterface << QStringLiteral("IsEnabled");
    call.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, m_timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

bool DBusAccessibilityStatus::setEnabled(bool enabled) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kPropertiesInterface, QStringLiteral("Set"));
    call << kStatusInterface << QStringLiteral("IsEnabled") << QVariant::fromValue(QDBusVariant(enabled));
    call.setAutoStartService(false);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, m_timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

} // namespace quill
