#include "DBusAccessibilityStatus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

namespace quill {
namespace {

const QString kService = QStringLiteral("org.a11y.Bus");
const QString kPath = QStringLiteral("/org/a11y/bus");
const QString kStatusInterface = QStringLiteral("org.a11y.Status");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
constexpr qint64 kSilenceMs = 5000;

} // namespace

DBusAccessibilityStatus::DBusAccessibilityStatus(int timeoutMs) : m_timeoutMs(timeoutMs) {}

DBusAccessibilityStatus::~DBusAccessibilityStatus() {
    if (m_changed)
        QDBusConnection::sessionBus().disconnect(kService, kPath, kPropertiesInterface,
                                                 QStringLiteral("PropertiesChanged"), this,
                                                 SLOT(propertiesChanged(QDBusMessage)));
}

bool DBusAccessibilityStatus::watch(const std::function<void()>& changed) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.connect(kService, kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                     SLOT(propertiesChanged(QDBusMessage))))
        return false;
    m_changed = changed;
    // A launcher started later, or one that went away, changes the answer as much as the switch.
    m_serviceWatcher = std::make_unique<QDBusServiceWatcher>(kService, bus,
                                                             QDBusServiceWatcher::WatchForRegistration |
                                                                 QDBusServiceWatcher::WatchForUnregistration);
    connect(m_serviceWatcher.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] { m_changed(); });
    connect(m_serviceWatcher.get(), &QDBusServiceWatcher::serviceUnregistered, this, [this] { m_changed(); });
    return true;
}

void DBusAccessibilityStatus::propertiesChanged(const QDBusMessage& message) {
    if (!message.arguments().isEmpty() && message.arguments().constFirst().toString() == kStatusInterface)
        m_changed();
}

std::optional<bool> DBusAccessibilityStatus::isEnabled() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kPropertiesInterface, QStringLiteral("Get"));
    call << kStatusInterface << QStringLiteral("IsEnabled");
    call.setAutoStartService(false);
    if (m_silence.isValid() && !m_silence.hasExpired(kSilenceMs))
        return std::nullopt;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, m_timeoutMs);
    // A launcher that holds its name and does not answer (stopped, hung) would cost every caller
    // the whole wait; for a while it is taken as absent without asking again.
    if (reply.type() == QDBusMessage::ErrorMessage &&
        reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.NoReply"))
        m_silence.start();
    else
        m_silence.invalidate();
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
