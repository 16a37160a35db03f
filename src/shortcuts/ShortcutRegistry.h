#pragma once

#include "Shortcut.h"
#include "ShortcutNames.h"
#include "platform/KeyGrabber.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <optional>
#include <unordered_map>

namespace quill {

// The state every global shortcut shares for the life of the process: one keyboard hook and one
// table of handlers keyed by ShortcutKey. A press of a key in the table runs its handler, and the
// release that ends the press its release handler, on a later turn of the main loop, never while
// the window system's event is being dispatched, and only while the handlers' receiver exists. A
// held key is one press.
class ShortcutRegistry : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void()>;

    ShortcutRegistry(KeyGrabber& grabber, const ShortcutNames& names, QObject* parent = nullptr);

    // Sets up the keyboard hook on the first call only: a failed attempt is never repeated.
    void installEventTap();
    bool hasEventTap() const { return m_hasEventTap; }

    // Puts the handlers under the shortcut's key, replacing those already there; they run in the
    // context of `receiver`, so that a press posted just before it goes away does nothing.
    // Returns the reason when the key cannot be taken from the other applications.
    // `description` names the action for desktops that list the shortcuts they hand out.
    std::optional<QString> add(const Shortcut& shortcut, QObject* receiver, Handler onPress,
                               Handler onRelease = {}, const QString& description = {});
    void remove(const Shortcut& shortcut);
    // Why `shortcut` could not be added now, without adding it; none when it could.
    std::optional<QString> check(const Shortcut& shortcut);
    bool contains(const Shortcut& shortcut) const { return m_handlers.contains(ShortcutKey(shortcut)); }

    // While suspended no key is taken from the applications (so that a shortcut recorder can see
    // the keys of live shortcuts); the table stays as it is and its keys are taken back on resume.
    void setSuspended(bool suspended);
    bool isSuspended() const { return m_suspended; }

    // Why the desktop refused `shortcut` after add() had answered; none while it has not.
    std::optional<QString> lateFailure(const Shortcut& shortcut) const;

signals:
    // Where a desktop refuses a key only after add() has answered (the GlobalShortcuts portal):
    // the reason, on a later turn of the main loop.
    void lateFailureReported(const QString& message);

private:
    std::optional<QString> failureMessage(const Shortcut& shortcut, KeyGrabber::GrabResult result) const;
    void grabRefused(const KeyCombination& combination, KeyGrabber::GrabResult result);
    // Takes the key from the other applications; the reason when it cannot be taken.
    std::optional<QString> grab(const Shortcut& shortcut, const KeyCombination& combination);
    struct Handlers {
        QPointer<QObject> receiver;
        Handler onPress;
        Handler onRelease;
    };

    void keyPressed(const KeyCombination& combination);
    void keyReleased(const KeyCombination& combination);
    const Handlers* handlersFor(const KeyCombination& combination) const;

    KeyGrabber& m_grabber;
    const ShortcutNames& m_names;
    bool m_tapSetUp = false;
    bool m_hasEventTap = false;
    bool m_suspended = false;
    std::unordered_map<ShortcutKey, Handlers> m_handlers;
    std::unordered_map<KeyCombination, ShortcutKey> m_keys;
    std::unordered_map<ShortcutKey, QString> m_lateFailures;
};

} // namespace quill
