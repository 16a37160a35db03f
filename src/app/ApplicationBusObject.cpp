#include "ApplicationBusObject.h"

#include "platform/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <utility>

namespace quill {
namespace {

// The caller's text is echoed only as far as a real name could go.
QString echoed(const QString& text) {
    constexpr qsizetype limit = 40;
    return text.size() > limit ? text.left(limit) + u'…' : text;
}

} // namespace

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
                                      int timeoutMs, const QString& actionId, bool* refused) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return QStringLiteral("no session bus");
    QDBusMessage call = QDBusMessage::createMethodCall(busName, applicationObjectPath, applicationInterface,
                                                       action ? QStringLiteral("ActivateAction")
                                                              : QStringLiteral("Activate"));
    if (action)
        call << remoteActionName(*action)
             << QVariant::fromValue(action == RemoteAction::action
                                        ? QVariantList{QVariant::fromValue(QDBusVariant(QVariant(actionId)))}
                                        : QVariantList{});
    call << QVariant::fromValue(QVariantMap{});
    const QDBusMessage reply = bus.call(call, QDBus::Block, timeoutMs);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return {};
    if (refused)
        *refused = reply.errorName() == QDBusError::errorString(QDBusError::InvalidArgs);
    return reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
}

void ApplicationBusObject::Activate(const QVariantMap&) {}

void ApplicationBusObject::Open(const QStringList&, const QVariantMap&) {
    sendErrorReply(QDBusError::NotSupported, QStringLiteral("Quillpoint opens no files"));
}

bool ApplicationBusObject::admit(RemoteAction action) {
    if (m_throttle.admit(action, std::chrono::milliseconds(m_clock.elapsed()))) {
        m_burstLogged = false;
        return true;
    }
    // Once a burst: a flood of calls must not become a flood of lines.
    if (!std::exchange(m_burstLogged, true))
        logLine(lcApp(), QStringLiteral("ApplicationBusObject"),
                QStringLiteral("%1 ignored: it repeats one made a moment ago").arg(remoteActionName(action)));
    return false;
}

void ApplicationBusObject::ActivateAction(const QString& actionName, const QVariantList& parameter,
                                          const QVariantMap&) {
    const std::optional<RemoteAction> action = remoteActionNamed(actionName);
    if (!action) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Unknown action \"%1\"; the actions are explain, transcribe, cancel, "
                                      "preferences, history, quit and action")
                           .arg(echoed(actionName)));
        return;
    }
    if (action == RemoteAction::action) {
        const std::optional<QString> id = userActionId(parameter);
        if (!id || !admit(*action))
            return;
        QMetaObject::invokeMethod(
            this,
            [this, id = *id] {
                emit userActionRequested(id);
                m_throttle.performed(RemoteAction::action, std::chrono::milliseconds(m_clock.elapsed()));
            },
            Qt::QueuedConnection);
        return;
    }
    if (!admit(*action))
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

std::optional<QString> ApplicationBusObject::userActionId(const QVariantList& parameter) {
    QVariant value = parameter.value(0);
    if (value.canConvert<QDBusVariant>())
        value = value.value<QDBusVariant>().variant();
    if (parameter.size() != 1 || value.typeId() != QMetaType::QString) {
        sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("The action \"action\" takes the id of one of "
                                                               "your actions as its one parameter"));
        return std::nullopt;
    }
    const QString id = value.toString();
    const std::optional<QString> problem =
        m_userActionCheck ? m_userActionCheck(id) : std::optional<QString>(QStringLiteral("not ready"));
    if (problem) {
        sendErrorReply(QDBusError::InvalidArgs,
                       QStringLiteral("Action \"%1\": %2").arg(echoed(id), *problem));
        return std::nullopt;
    }
    return id;
}

} // namespace quill
