#pragma once

#include "GnomeKeybindings.h"
#include "platform/KeyGrabber.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>
#include <unordered_map>

namespace quill {

// Global shortcuts as GNOME custom key bindings, for GNOME Shell without the GlobalShortcuts
// portal. Each grabbed combination becomes a binding whose command calls Press on this object
// over the session bus (with gdbus, which starts in a few milliseconds where starting this
// program again would take far longer), so every key, the cancel key that comes and goes with a
// recording included, reaches the press handler the same way. GNOME reports no release.
//
// The bindings live only as long as this object: they are taken out when it goes (at quit), so
// that no key stays taken from the applications while Quillpoint is not running, and those a
// crashed run left behind are taken out at install().
class GnomeKeybindingGrabber final : public QObject, public KeyGrabber {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.quillpoint.Quillpoint.Keys")
public:
    static inline const QString objectPath = QStringLiteral("/app/quillpoint/Quillpoint/Keys");
    // Starts the id of each of our bindings in GNOME's list; the same from run to run.
    static inline const QString defaultIdPrefix = QStringLiteral("quillpoint-");

    struct Options {
        // Where the running program is reached: its well-known name on the session bus.
        QString busName;
        QString idPrefix = defaultIdPrefix;
        QString gdbusPath;
    };

    // Whether the session is GNOME Shell with its custom key bindings installed.
    static bool sessionOffers(const QDBusConnection& bus);
    // The GNOME setting or custom binding, not one of ours, that has the combination's key.
    static std::optional<QString> boundElsewhere(const KeyCombination& combination,
                                                 const QString& idPrefix = defaultIdPrefix);

    GnomeKeybindingGrabber(QDBusConnection bus, Options options);
    ~GnomeKeybindingGrabber() override;

    bool install(PressHandler onPress, ReleaseHandler onRelease) override;
    GrabResult grab(const KeyCombination& combination) override;
    void ungrab(const KeyCombination& combination) override;
    void describe(const KeyCombination& combination, const QString& description) override;
    bool reportsRelease() const override { return false; }
    QString settingsNote() const override;

    // The binding's id for a combination, as its command passes it to Press.
    QString idFor(const KeyCombination& combination) const;

public slots:
    // Called by a binding's command when its key is pressed. NOLINTNEXTLINE(readability-identifier-naming)
    Q_SCRIPTABLE void Press(const QString& id);

private:
    QString commandFor(const QString& id) const;
    QString nameFor(const KeyCombination& combination) const;

    QDBusConnection m_bus;
    Options m_options;
    GnomeKeybindings m_keybindings;
    PressHandler m_onPress;
    bool m_installed = false;
    std::unordered_map<QString, KeyCombination> m_grabbed;
    std::unordered_map<KeyCombination, QString> m_descriptions;
};

} // namespace quill
