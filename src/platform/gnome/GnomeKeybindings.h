#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace quill {

// GNOME's custom key bindings (the media-keys plugin of gnome-settings-daemon runs a binding's
// command when its key is pressed) and the keys GNOME itself is bound to, read and written through
// GSettings. Our bindings are those whose id starts with the prefix given; every other binding in
// the list is the user's and is never changed.
class GnomeKeybindings {
public:
    static inline const QString mediaKeysSchema =
        QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
    static inline const QString customSchema =
        QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding");
    static inline const QString customPath =
        QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/");

    explicit GnomeKeybindings(QString idPrefix);

    // Whether GNOME's schemas for custom bindings are installed; nothing else works without them.
    static bool available();

    // Adds the binding `id` to the list, or changes it when it is there already.
    void set(const QString& id, const QString& name, const QString& command, const QString& accelerator);
    void remove(const QString& id);
    // Removes every binding of ours, also those a previous run left behind.
    void removeAll();
    // Changes go to the settings service in the background, and later reads see them at once;
    // this waits until the service has them, for a process about to exit.
    static void flush();
    QStringList ids() const;

    // The name of a binding or GNOME setting other than ours whose key `matches` accepts: a custom
    // binding's name, or the setting's key ("switch-to-workspace-1").
    std::optional<QString> boundElsewhere(const std::function<bool(const QString&)>& matches) const;

private:
    QString m_idPrefix;
};

} // namespace quill
