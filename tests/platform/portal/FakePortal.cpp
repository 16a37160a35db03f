#include "FakePortal.h"

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QTest>
#include <QTimer>
#include <algorithm>

namespace quill::test {
namespace {

const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");

QString senderElement(const QDBusMessage& message) {
    QString sender = message.service();
    sender.remove(0, 1);
    return sender.replace(QLatin1Char('.'), QLatin1Char('_'));
}

PortalShortcutList shortcutsArgument(const QVariant& value) {
    return portal::portalShortcutList(value);
}

} // namespace

PrivateBus::PrivateBus() {
    m_daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                   QStringLiteral("--print-address=1")});
    if (!m_daemon.waitForStarted(5000))
        return;
    for (int i = 0; i < 50 && !m_daemon.canReadLine(); ++i)
        m_daemon.waitForReadyRead(100);
    m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
}

PrivateBus::~PrivateBus() {
    for (const QString& name : m_names)
        QDBusConnection::disconnectFromBus(name);
    m_daemon.kill();
    m_daemon.waitForFinished(2000);
}

QDBusConnection PrivateBus::connect(const QString& name) const {
    const_cast<QStringList&>(m_names).append(name);
    return QDBusConnection::connectToBus(m_address, name);
}

FakePortal::FakePortal(QDBusConnection bus) : m_bus(std::move(bus)) {
    portal::registerPortalShortcutTypes();
    m_bus.registerVirtualObject(portalPath, this, QDBusConnection::SubPath);
    m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
}

FakePortal::~FakePortal() {
    m_bus.unregisterObject(portalPath);
}

QString FakePortal::introspect(const QString&) const {
    return {};
}

QVariantMap FakePortal::defaultResults(const QDBusMessage& message, const QString& sessionHandle) {
    const QString member = message.member();
    const auto args = message.arguments();
    if (member == QLatin1String("CreateSession")) {
        QVariantMap results{{QStringLiteral("session_handle"), sessionHandle}};
        if (message.interface().endsWith(QLatin1String("GlobalShortcuts")) && bindsInCreateSession) {
            const auto wanted =
                shortcutsArgument(qdbus_cast<QVariantMap>(args.last()).value(QStringLiteral("shortcuts")));
            PortalShortcutList given;
            for (const auto& shortcut : wanted)
                given.append(
                    {shortcut.id,
                     {{QStringLiteral("description"),
                       shortcut.properties.value(QStringLiteral("description"))},
                      {QStringLiteral("trigger_description"),
                       assignedTriggers.value(
                           shortcut.id,
                           shortcut.properties.value(QStringLiteral("preferred_trigger")).toString())}}});
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(given));
        }
        return results;
    }
    if (member == QLatin1String("BindShortcuts")) {
        PortalShortcutList given;
        for (const auto& shortcut : shortcutsArgument(args.at(1)))
            given.append(
                {shortcut.id,
                 {{QStringLiteral("trigger_description"),
                   assignedTriggers.value(
                       shortcut.id,
                       shortcut.properties.value(QStringLiteral("preferred_trigger")).toString())}}});
        return {{QStringLiteral("shortcuts"), QVariant::fromValue(given)}};
    }
    if (member == QLatin1String("Start")) {
        QVariantMap results{{QStringLiteral("devices"), 1u}};
        if (!nextRestoreToken.isEmpty())
            results.insert(QStringLiteral("restore_token"), nextRestoreToken);
        return results;
    }
    return {};
}

bool FakePortal::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    calls.append(message);
    const QString member = message.member();
    const auto args = message.arguments();
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") &&
        member == QLatin1String("Get")) {
        connection.send(message.createReply(QVariant::fromValue(QDBusVariant(remoteDesktopVersion))));
        return true;
    }
    if (member == QLatin1String("NotifyKeyboardKeysym")) {
        const int keysym = args.at(2).toInt();
        const bool pressed = args.at(3).toUInt() == 1;
        keys.append({keysym, pressed});
        const QDBusMessage reply =
            keysym == refusedKeysym && pressed
                ? message.createErrorReply(QDBusError::AccessDenied, QStringLiteral("refused"))
                : message.createReply();
        mostKeyEventsInFlight = std::max(mostKeyEventsInFlight, ++m_keyEventsInFlight);
        // The connection is the member's: a copy in the timer would keep it open past the test.
        QTimer::singleShot(keyAnswerDelayMs, this, [this, reply] {
            --m_keyEventsInFlight;
            m_bus.send(reply);
        });
        return true;
    }
    if (member == QLatin1String("Close")) {
        connection.send(message.createReply());
        return true;
    }
    static const QStringList requestMethods{QStringLiteral("CreateSession"), QStringLiteral("BindShortcuts"),
                                            QStringLiteral("SelectDevices"), QStringLiteral("Start")};
    if (!requestMethods.contains(member) || !message.signature().endsWith(QLatin1String("a{sv}"))) {
        connection.send(message.createErrorReply(QDBusError::UnknownMethod, member));
        return true;
    }
    const QVariantMap options = qdbus_cast<QVariantMap>(args.last());
    const QString token = options.value(QStringLiteral("handle_token")).toString();
    const QString requestPath =
        QStringLiteral("%1/request/%2/%3").arg(portalPath, senderElement(message), token);
    const QString sessionHandle = QStringLiteral("%1/session/%2/%3")
                                      .arg(portalPath, senderElement(message),
                                           options.value(QStringLiteral("session_handle_token")).toString());

    Response response = responses.value(member);
    if (!responses.contains(member))
        response.results = defaultResults(message, sessionHandle);
    auto signal = QDBusMessage::createSignal(requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                                             QStringLiteral("Response"));
    signal.setArguments({response.code, response.results});
    const auto reply = message.createReply(QVariant::fromValue(QDBusObjectPath(requestPath)));
    switch (response.answer) {
    case Answer::beforeReply:
        connection.send(signal);
        connection.send(reply);
        break;
    case Answer::afterReply:
        connection.send(reply);
        connection.send(signal);
        break;
    case Answer::late:
        connection.send(reply);
        QTimer::singleShot(100, this, [bus = m_bus, signal] { bus.send(signal); });
        break;
    case Answer::never:
        connection.send(reply);
        break;
    }
    return true;
}

QList<QDBusMessage> FakePortal::callsOf(const QString& member) const {
    QList<QDBusMessage> found;
    for (const auto& call : calls) {
        if (call.member() == member)
            found.append(call);
    }
    return found;
}

QVariantMap FakePortal::lastOptions(const QString& member) const {
    const auto found = callsOf(member);
    return found.isEmpty() ? QVariantMap() : qdbus_cast<QVariantMap>(found.last().arguments().last());
}

void FakePortal::emitGlobalShortcutsSignal(const QString& member, const QString& session,
                                           const QVariantList& rest) {
    auto signal = QDBusMessage::createSignal(
        portalPath, QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), member);
    signal.setArguments(QVariantList{QVariant::fromValue(QDBusObjectPath(session))} + rest);
    m_bus.send(signal);
}

void FakePortal::closeSession(const QString& session) {
    m_bus.send(QDBusMessage::createSignal(session, QStringLiteral("org.freedesktop.portal.Session"),
                                          QStringLiteral("Closed")));
}

} // namespace quill::test
