#include "ApplicationBusObject.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace quill {

ApplicationBusObject::ApplicationBusObject(QObject* parent) : QObject(parent) {
    m_clock.start();
}

bool ApplicationBusObject::claim(const QString& busName) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    if (!bus.registerObject(applicationObjectPath, this, QDBusConnection::ExportAllSlots))
        return false;
    if (!bus.registerService(busName)) {
        bus.unregisterObject(applicationObjectPath);
        return false;
    }
    return true;
}

bool ApplicationBusObject::isRunning(const QString& busName, int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameHasOwner"));
    call << busName;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

std::optional<qint64> ApplicationBusObject::ownerProcessId(const QString& busName, int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return std::nullopt;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixProcessID"));
    call << busName;
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    return reply.arguments().constFirst().toLongLong();
}

QString ApplicationBusObject::forward(const QString& busName, std::optional<RemoteAction> action,
                                      int timeoutMs) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("no session bus");
    QDBusMessage call = QDBusMessage::createMethodCall(busName, applicationObjectPath, applicationInterface,
                                                       action ? QStringLiteral("ActivateAction")
                                                              : QStringLiteral("Activate"));
    if (action)
        call << remoteActionName(*action) << QVariant::fromValue(QVariantList{});
    call << QVariant::fromValue(QVariantMap{});
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

void ApplicationBusObject::Activate(const QVariantMap&) {}

void ApplicationBusObject::Open(const QStringList&, const QVariantMap&) {
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("Quillpoint opens no files"));
}

void ApplicationBusObject::ActivateAction(const QString& actionName, const QVariantList&,
                                          const QVariantMap&) {
    const std::optional<RemoteAction> action = remoteActionNamed(actionName);
    if (!action) {
        // The caller's text is echoed only as far as a real action name could go.
        constexpr qsizetype echoed = 40;
        const QString shown = actionName.size() > echoed ? actionName.left(echoed) + u'…' : actionName;
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Unknown action \"%1\"; the actions are explain, transcribe, cancel, "
                                      "preferences, history and quit")
                           .arg(shown));
        return;
    }
    if (!m_throttle.admit(*action, std::chrono::milliseconds(m_clock.elapsed())))
        return;
    logLatencyMark("key event");
    // The caller has its answer before the action runs.
    QMetaObject::invokeMethod(
        this,
        [this, requested = *action] {
            emit actionRequested(requested);
            m_throttle.performed(requested, std::chrono::milliseconds(m_clock.elapsed()));
        },
        Qt::QueuedConnection);
}

} // namespace quill
