#pragma once

#include "Shortcut.h"

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>

namespace quill {

class SettingsStore;

using ShortcutMap = std::map<ShortcutAction, Shortcut>;

// Keeps a subscription to the shortcut store alive; dropping it ends the deliveries.
class ShortcutSubscription {
public:
    explicit ShortcutSubscription(QMetaObject::Connection connection, std::shared_ptr<bool> alive);
    ~ShortcutSubscription();
    ShortcutSubscription(const ShortcutSubscription&) = delete;
    ShortcutSubscription& operator=(const ShortcutSubscription&) = delete;

private:
    QMetaObject::Connection m_connection;
    std::shared_ptr<bool> m_alive;
};

// The user's shortcut for each action, kept in the settings as "shortcut_<action>_keyCode" and
// "shortcut_<action>_modifiers". Writing an entry publishes it; saving is a separate step.
class ShortcutConfiguration : public QObject {
    Q_OBJECT
public:
    explicit ShortcutConfiguration(SettingsStore& settings, QObject* parent = nullptr);

    const ShortcutMap& shortcuts() const { return m_shortcuts; }
    // The entry for `action`; the store always has one after construction.
    Shortcut shortcut(ShortcutAction action) const;
    // shortcuts[action] = shortcut: publishes the change without saving it.
    void setShortcut(ShortcutAction action, const Shortcut& shortcut);
    void saveShortcut(const Shortcut& shortcut, ShortcutAction action);
    std::optional<Shortcut> loadShortcut(ShortcutAction action) const;

    // Calls `receiver` on `context`'s thread, through its event queue, with the current
    // dictionary once and then with every changed dictionary.
    [[nodiscard]] std::unique_ptr<ShortcutSubscription>
    subscribe(QObject* context, const std::function<void(const ShortcutMap&)>& receiver);

    static QString keyCodeEntry(ShortcutAction action);
    static QString modifiersEntry(ShortcutAction action);

signals:
    void shortcutsChanged();

private:
    SettingsStore& m_settings;
    ShortcutMap m_shortcuts;
};

} // namespace quill
