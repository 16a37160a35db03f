#pragma once

#include "platform/portal/PortalShortcuts.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QHash>
#include <QProcess>
#include <QString>
#include <QVariantMap>
#include <optional>

namespace quill::test {

// A session bus of its own: a dbus-daemon that lives as long as the object.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    bool isRunning() const { return !m_address.isEmpty(); }
    // A new connection to the bus under `name`.
    QDBusConnection connect(const QString& name) const;

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

// org.freedesktop.portal.Desktop with the GlobalShortcuts and RemoteDesktop interfaces, as far
// as this program uses them. Each request method answers with the Response set for it in
// `responses` (default: 0 and the results below); every call is kept in `calls`.
class FakePortal final : public QDBusVirtualObject {
    Q_OBJECT
public:
    enum class Answer { afterReply, beforeReply, late, never };
    struct Response {
        uint code = 0;
        QVariantMap results;
        Answer answer = Answer::afterReply;
    };

    explicit FakePortal(QDBusConnection bus);
    ~FakePortal() override;

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // The calls of one method, oldest first.
    QList<QDBusMessage> callsOf(const QString& member) const;
    // The options (last a{sv} argument) of the latest call of `member`.
    QVariantMap lastOptions(const QString& member) const;

    void emitGlobalShortcutsSignal(const QString& member, const QString& session, const QVariantList& rest);
    void closeSession(const QString& session);

    // GlobalShortcuts: KDE 5.27 binds in CreateSession and returns the shortcuts there;
    // otherwise CreateSession returns none and BindShortcuts binds.
    bool bindsInCreateSession = true;
    // The key the desktop gives an id; absent: the preferred trigger.
    QHash<QString, QString> assignedTriggers;
    QHash<QString, Response> responses;
    uint remoteDesktopVersion = 2;
    QString nextRestoreToken;
    QList<QDBusMessage> calls;
    // NotifyKeyboardKeysym calls as (keysym, pressed).
    QList<std::pair<int, bool>> keys;
    // How long a key event waits for its answer, as on a portal busy elsewhere; the most key
    // events that were waiting at once; the keysym whose press the desktop refuses.
    int keyAnswerDelayMs = 0;
    int mostKeyEventsInFlight = 0;
    int refusedKeysym = 0;

private:
    QVariantMap defaultResults(const QDBusMessage& message, const QString& sessionHandle);
    QDBusConnection m_bus;
    int m_keyEventsInFlight = 0;
};

} // namespace quill::test
