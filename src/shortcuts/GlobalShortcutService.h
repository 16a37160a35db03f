#pragma once

#include "Shortcut.h"
#include "ShortcutRegistry.h"

#include <QObject>
#include <QString>
#include <optional>

namespace quill {

// Makes one shortcut work in every application: while registered, pressing its key with exactly
// its modifiers emits triggered() (once, however long the key is held), letting go of it
// released(), both on a later turn of the main loop, and neither key event reaches the
// application in front.
class GlobalShortcutService : public QObject {
    Q_OBJECT
public:
    GlobalShortcutService(const Shortcut& shortcut, ShortcutRegistry& registry, QObject* parent = nullptr);
    ~GlobalShortcutService() override;

    bool isRegistered() const { return m_isRegistered; }
    // Why the last registration failed, or why the desktop refused the key afterwards; none
    // after a successful one.
    std::optional<QString> registrationError() const;
    Shortcut currentShortcut() const { return m_currentShortcut; }
    // What the shortcut does, shown by desktops that list the shortcuts they hand out; takes
    // effect at the next registration.
    void setDescription(const QString& description) { m_description = description; }

    // Makes the shortcut live; afterwards registrationError() tells whether it worked. Until
    // unregister(), every updateShortcut() tries again, so a key another program holds does not
    // leave the action dead when the user picks another one.
    void registerShortcut();
    void unregister();
    void updateShortcut(const Shortcut& shortcut);

signals:
    void triggered();
    void released();

private:
    bool m_isRegistered = false;
    bool m_wanted = false;
    std::optional<QString> m_registrationError;
    Shortcut m_currentShortcut;
    QString m_description;
    ShortcutRegistry& m_registry;
};

} // namespace quill
