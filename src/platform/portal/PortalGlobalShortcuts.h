#pragma once

#include "PortalReply.h"
#include "PortalSession.h"
#include "PortalShortcuts.h"
#include "platform/KeyGrabber.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <unordered_map>

namespace quill {

// Global shortcuts through the GlobalShortcuts portal (Wayland). The portal hands out actions,
// not keys: each grabbed combination becomes one action whose id is its trigger ("CTRL+1") and
// whose preferred trigger is that key. The desktop may give the action another key, and the
// user may change it in the desktop's settings; Activated/Deactivated name the action, so the
// combination reported to the press and release handlers stays the one that was grabbed.
//
// The id follows the key because a desktop keeps the key it once gave an action and ignores a
// new preferred trigger (KDE 5.27): a key chosen in this program's recorder must be a new action.
//
// Each combination has a session of its own, named after it. KDE 5.27 binds the actions it is
// given in CreateSession, makes one kglobalaccel component of each session name, and switches
// off a component's actions some time after its session is closed. With one session for all,
// every change (the cancel key comes and goes with each recording) would close the session of
// the keys already held, losing the release of a held hold-to-talk key, and the old session's
// late switch-off could hit the new session's keys.
class PortalGlobalShortcuts final : public QObject, public KeyGrabber {
    Q_OBJECT
public:
    struct Options {
        // Starts the name of every session and, on KDE, of the kglobalaccel components that
        // keep the keys the user gave the actions: it must stay the same from one run to the next.
        QString sessionPrefix = QStringLiteral("quillpoint");
        std::chrono::milliseconds timeout{std::chrono::seconds(30)};
        // BindShortcuts may show the user a dialog to confirm or change the keys.
        std::chrono::milliseconds bindTimeout{std::chrono::minutes(5)};
    };

    explicit PortalGlobalShortcuts(QDBusConnection bus);
    PortalGlobalShortcuts(QDBusConnection bus, Options options);
    ~PortalGlobalShortcuts() override;

    bool install(PressHandler onPress, ReleaseHandler onRelease) override;
    // Answers `grabbed` for every key with a portal name; the desktop's answer comes later, a
    // refusal through the refusal handler. A grab taken back in the same turn asks nothing.
    GrabResult grab(const KeyCombination& combination) override;
    void ungrab(const KeyCombination& combination) override;
    void setRefusalHandler(const RefusalHandler& handler) override;
    void describe(const KeyCombination& combination, const QString& description) override;

    // The key the desktop gave the combination's action, in its own words; empty while unknown
    // or when it gave none.
    QString assignedTrigger(const KeyCombination& combination) const;

signals:
    // The desktop has answered for one combination, bound or refused.
    void bindingSettled();

private slots:
    void onActivated(const QDBusMessage& message);
    void onDeactivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);

private:
    enum class State { waiting, binding, bound, refused };
    struct Binding {
        KeyCombination combination;
        QString description;
        // Tells the answers of this grab from those of an earlier grab of the same key.
        quint64 serial = 0;
        State state = State::waiting;
        std::unique_ptr<PortalSession> session;
        QString assignedTrigger;
        bool pressed = false;
        // False from an ungrab until the binding is erased on a later turn.
        bool wanted = true;
    };
    void scheduleBind();
    void bindWaiting();
    void bind(const QString& id, Binding& binding);
    void sessionCreated(const QString& id, quint64 serial, const PortalReply& reply);
    void bound(const QString& id, quint64 serial, const PortalReply& reply);
    void refuse(Binding& binding, GrabResult result);
    Binding* current(const QString& id, quint64 serial);
    // The binding a signal of the GlobalShortcuts interface is about, if it is one of ours.
    std::pair<QString, Binding*> bindingFor(const QDBusMessage& message);

    QDBusConnection m_bus;
    Options m_options;
    PressHandler m_onPress;
    ReleaseHandler m_onRelease;
    RefusalHandler m_onRefusal;
    bool m_installed = false;
    bool m_bindScheduled = false;
    quint64 m_serial = 0;
    std::map<QString, Binding> m_bindings;
    std::unordered_map<KeyCombination, QString> m_descriptions;
};

} // namespace quill
