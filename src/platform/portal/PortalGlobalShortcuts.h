#pragma once

#include "PortalRequest.h"
#include "platform/KeyGrabber.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <chrono>
#include <map>
#include <memory>
#include <set>
#include <unordered_map>

namespace quill::portal {

// Global shortcuts through the GlobalShortcuts portal (Wayland). The portal hands out actions,
// not keys: each grabbed combination becomes one action whose id is its trigger ("CTRL+1") and
// whose preferred trigger is that key. The desktop may give the action another key, and the
// user may change it in the desktop's settings; Activated/Deactivated name the action, so the
// combination reported to the press and release handlers stays the one that was grabbed.
//
// The id follows the key because a desktop keeps the key it once gave an action and ignores a
// new preferred trigger (KDE 5.27): a key chosen in this program's recorder must be a new action.
//
// Grabs are collected and bound on a later turn of the event loop, all in one session: every
// change closes the session and creates a new one with the whole set, since KDE 5.27 binds the
// actions it is given in CreateSession and forgets those of a session that goes away.
class PortalGlobalShortcuts final : public QObject, public KeyGrabber {
    Q_OBJECT
public:
    struct Options {
        // Names the session and, on KDE, the kglobalaccel component that keeps the keys the
        // user gave the actions: it must stay the same from one run to the next.
        QString sessionToken = QStringLiteral("quillpoint");
        std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    };

    explicit PortalGlobalShortcuts(QDBusConnection bus);
    PortalGlobalShortcuts(QDBusConnection bus, Options options);
    ~PortalGlobalShortcuts() override;

    bool install(PressHandler onPress, ReleaseHandler onRelease) override;
    GrabResult grab(const KeyCombination& combination) override;
    void ungrab(const KeyCombination& combination) override;
    void setRefusalHandler(RefusalHandler handler) override;
    void describe(const KeyCombination& combination, const QString& description) override;

    // The key the desktop gave the combination's action, in its own words; empty while unknown
    // or when it gave none.
    QString assignedTrigger(const KeyCombination& combination) const;

signals:
    // A round of binding has ended, bound or refused.
    void bindingSettled();

private slots:
    void onActivated(const QDBusMessage& message);
    void onDeactivated(const QDBusMessage& message);
    void onShortcutsChanged(const QDBusMessage& message);

private:
    struct Wanted {
        KeyCombination combination;
        QString description;
    };
    void scheduleBind();
    void bind();
    void sessionCreated(const PortalReply& reply, const std::set<QString>& ids);
    void applyAssigned(const PortalReply& reply, const std::set<QString>& ids);
    void refuseAll(const std::set<QString>& ids, GrabResult result);
    void settle();
    bool isOurSession(const QDBusMessage& message) const;
    const Wanted* wantedFor(const QString& id) const;

    QDBusConnection m_bus;
    Options m_options;
    PressHandler m_onPress;
    ReleaseHandler m_onRelease;
    RefusalHandler m_onRefusal;
    bool m_installed = false;
    std::map<QString, Wanted> m_wanted;
    std::unordered_map<KeyCombination, QString> m_descriptions;
    std::set<QString> m_boundIds;
    std::map<QString, QString> m_assigned;
    std::set<QString> m_pressed;
    std::unique_ptr<PortalSession> m_session;
    bool m_bindScheduled = false;
    bool m_binding = false;
    // Keeps the replies of a round that was superseded from touching the current state.
    quint64 m_round = 0;
};

} // namespace quill::portal
