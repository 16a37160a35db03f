#pragma once

#include "Shortcut.h"
#include "ShortcutRegistry.h"

#include <QString>
#include <functional>
#include <memory>
#include <optional>

namespace quill {

// Makes one shortcut work in every application: while registered, pressing its key with exactly
// its modifiers runs `onTrigger` (once, however long the key is held), letting go of it runs
// `onRelease`, and neither reaches the application in front.
class GlobalShortcutService {
public:
    GlobalShortcutService(const Shortcut& shortcut, std::function<void()> onTrigger,
                          ShortcutRegistry& registry);
    GlobalShortcutService(const Shortcut& shortcut, std::function<void()> onTrigger,
                          std::function<void()> onRelease, ShortcutRegistry& registry);
    ~GlobalShortcutService();
    GlobalShortcutService(const GlobalShortcutService&) = delete;
    GlobalShortcutService& operator=(const GlobalShortcutService&) = delete;

    const std::function<void()>& onTrigger() const { return *m_onTrigger; }
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

private:
    // Shared with the registry's handler only weakly: a press posted just before this service
    // goes away then does nothing.
    const std::shared_ptr<const std::function<void()>> m_onTrigger;
    const std::shared_ptr<const std::function<void()>> m_onRelease;
    bool m_isRegistered = false;
    bool m_wanted = false;
    std::optional<QString> m_registrationError;
    Shortcut m_currentShortcut;
    QString m_description;
    ShortcutRegistry& m_registry;
};

} // namespace quill
