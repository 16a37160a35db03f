#pragma once

#include "KeyGrabber.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>
#include <utility>

namespace quill {

// What a session offers, as found by looking without changing anything. Each field is filled by
// one probe; a probe that did not answer in time leaves `answered` false.
struct X11Facts {
    bool answered = false;
    bool connected = false;
    bool xtest = false;
    bool xembedTray = false;
    bool clipboardOwned = false;
    // Each shortcut asked about and whether another client holds it.
    QList<std::pair<KeyCombination, KeyGrabber::GrabResult>> grabs;
};

struct WaylandFacts {
    bool answered = false;
    bool connected = false;
    // The compositor lets a client without focus read and set the clipboard.
    bool dataControl = false;
    // KWin's scripting answers, which tells the pointer's position and the active window.
    bool kwinScripting = false;
    // The compositor lets a client type through a virtual keyboard of its own (wlroots).
    bool virtualKeyboard = false;
};

struct SwayFacts {
    bool answered = false;
    // sway answers at $SWAYSOCK.
    bool ipc = false;
    // Each shortcut asked about: `taken` when sway's configuration binds it, else `grabbed`.
    QList<std::pair<KeyCombination, KeyGrabber::GrabResult>> bindings;
};

struct SoundFacts {
    bool answered = false;
    bool serverRunning = false;
    QString serverName;
    QString defaultSource;
    bool defaultSourceExists = false;
    bool defaultSourceIsMonitor = false;
};

struct KeyringFacts {
    bool answered = false;
    bool serviceRunning = false;
    // The default collection's lock; none when the service has no default collection.
    std::optional<bool> locked;
};

struct BusFacts {
    bool answered = false;
    bool sessionBus = false;
    bool globalShortcutsPortal = false;
    bool remoteDesktopPortal = false;
    bool statusNotifierHost = false;
    // Whether the accessibility bus answers, and its "enabled" switch.
    std::optional<bool> accessibilityEnabled;
    // A Quillpoint holds the instance lock and owns its name on the session bus.
    bool quillpointRunning = false;
    // GNOME Shell with its custom key bindings, which Quillpoint uses for its shortcuts where
    // no GlobalShortcuts portal is offered; for each shortcut asked about, the GNOME setting or
    // custom binding other than ours that already has its key.
    bool gnomeShell = false;
    QList<std::optional<QString>> gnomeBoundElsewhere;
    // Another program owns Quillpoint's name on the session bus: its process and what it runs.
    std::optional<qint64> foreignNameOwner;
    QString foreignNameOwnerCommand;
};

struct SessionFacts {
    X11Facts x11;
    WaylandFacts wayland;
    SwayFacts sway;
    SoundFacts sound;
    KeyringFacts keyring;
    BusFacts bus;
};

} // namespace quill

namespace quill::platform {

// Whether a compositor accepts connections at WAYLAND_DISPLAY.
bool waylandAnswers();
// Whether the session's desktop portal offers `interface` (org.freedesktop.portal.…).
bool portalOffers(const QString& interface);

// Qt's platform plugins that can serve this environment. Returns the reason none can, after
// choosing Wayland explicitly where X11 is out of reach but Wayland is not; none when the
// program can start.
std::optional<QString> prepareDisplay();

// Runs every probe at once and returns within `budgetMs`, whatever a peer does; a probe still
// waiting then is reported as not answered and left to finish on its own. `ownBusName` is the
// program's own name on the session bus.
SessionFacts probeSession(const QList<KeyCombination>& shortcuts, const QString& ownBusName, int budgetMs);

} // namespace quill::platform
