#include "PlatformFactory.h"

#include "AppInfo.h"
#include "Log.h"
#include "PlatformNull.h"
#include "QtClipboard.h"
#include "SessionProbe.h"
#include "atspi/AtspiAccessibilityReader.h"
#include "atspi/DBusAccessibilityStatus.h"
#include "audio/AudioEncoderModule.h"
#include "audio/DeferredAudioFileWriter.h"
#include "audio/PulseAudioInputList.h"
#include "audio/PulsePcmSource.h"
#include "audio/SessionMicrophoneAccess.h"
#include "gnome/GnomeKeybindingGrabber.h"
#include "portal/PortalGlobalShortcuts.h"
#include "portal/PortalKeyEventPoster.h"
#include "secret/FallbackSecretStore.h"
#include "secret/LibsecretSecretStore.h"
#include "sway/SwayIpcConnection.h"
#include "sway/SwayKeyGrabber.h"
#include "sway/SwayPanelWindowHelper.h"
#include "wayland/DataControlClipboard.h"
#include "wayland/KWinQuery.h"
#include "wayland/WaylandActiveWindowInfo.h"
#include "wayland/WaylandPanelWindowHelper.h"
#include "wayland/WaylandVirtualKeyboard.h"
#include "x11/X11ActiveWindowInfo.h"
#include "x11/X11ActiveWindowTracker.h"
#include "x11/X11Clipboard.h"
#include "x11/X11KeyGrabber.h"
#include "x11/X11KeyboardLayout.h"
#include "x11/X11PanelWindowHelper.h"
#include "x11/XTestKeyEventPoster.h"
#include "xdg/DesktopSettingsLauncher.h"
#include "xdg/XdgAutostartRegistrar.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QStandardPaths>

namespace quill::platform {
namespace {

xcb_connection_t* x11Connection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

// A helper program installed next to ours.
QString besideTheProgram(const char* name) {
    return QDir(QCoreApplication::applicationDirPath()).filePath(QString::fromUtf8(name));
}

// What every session offers alike: settings, the keyring, the sound server, the desktop's
// files and the accessibility bus.
Platform commonPlatform() {
    Platform p;
    p.settingsStore = std::make_unique<QSettingsStore>();
    p.secretStore = createSecretStore();
    p.hostInfo = std::make_unique<SystemHostInfo>();
    p.autostartRegistrar = std::make_unique<XdgAutostartRegistrar>(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), bundleIdentifier(),
        QCoreApplication::applicationFilePath());
    p.accessibilityStatus = std::make_unique<DBusAccessibilityStatus>();
    // Without an accessibility bus libatspi aborts the process on its first call.
    if (p.accessibilityStatus->isEnabled().has_value())
        p.accessibilityReader = std::make_unique<AtspiAccessibilityReader>();
    else
        p.accessibilityReader = std::make_unique<NullAccessibilityReader>();
    p.clipboard = std::make_unique<QtClipboard>();
    p.settingsLauncher = std::make_unique<DesktopSettingsLauncher>();
    p.microphoneAccess = std::make_unique<SessionMicrophoneAccess>();
    p.audioInputList = std::make_unique<PulseAudioInputList>();
    p.createPcmSource = [](const QString& input) { return std::make_unique<PulsePcmSource>(input); };
    // The encoder's libraries are loaded by the first recording, while the microphone already
    // records into memory; afterwards, and when the module is missing, a writer is made at once.
    auto encoder = std::make_shared<AudioEncoderModule>(
        AudioEncoderModule::defaultLocations(QCoreApplication::applicationDirPath()));
    p.createAudioFileWriter = [encoder] {
        return std::make_unique<DeferredAudioFileWriter>(
            [encoder](QString& error) { return encoder->createWriter(error); },
            encoder->answersAtOnce() ? DeferredAudioFileWriter::Mode::now
                                     : DeferredAudioFileWriter::Mode::background);
    };
    return p;
}

void addX11(Platform& p, xcb_connection_t* connection) {
    p.keyGrabber = std::make_unique<X11KeyGrabber>(connection);
    p.keyboardLayout = std::make_unique<X11KeyboardLayout>(connection);
    p.activeWindowTracker = std::make_unique<X11ActiveWindowTracker>(connection);
    p.keyEventPoster = std::make_unique<XTestKeyEventPoster>();
    p.activeWindowInfo = std::make_unique<X11ActiveWindowInfo>();
    p.panelWindowHelper = std::make_unique<X11PanelWindowHelper>(connection);
    p.clipboard = std::make_unique<X11Clipboard>(connection, besideTheProgram("quillpoint-clipboard-keeper"));
}

// sway's IPC socket, when sway answers there. Connecting to a local socket does not wait for sway.
QString swaySocket() {
    const QString path = qEnvironmentVariable("SWAYSOCK");
    if (path.isEmpty())
        return {};
    QLocalSocket probe;
    probe.connectToServer(path);
    const bool answers = probe.waitForConnected(100);
    probe.abort();
    return answers ? path : QString();
}

// In a Wayland session our windows are XWayland windows where XWayland runs: KWin puts the
// panel where we ask and, since it accepts no focus, never activates it, which Qt's Wayland
// plugin offers only through a private, application-wide shell integration. What reaches other
// applications' windows goes through Wayland, KWin or the portals.
void addWayland(Platform& p, xcb_connection_t* xwayland) {
    // Whether KWin answers shows in its first answer: asking it first would block start-up.
    const auto kwin = std::make_shared<KWinQuery>();
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const bool gnomeShell = GnomeKeybindingGrabber::sessionOffers(bus);
    const QString sway = swaySocket();
    if (!sway.isEmpty())
        p.keyGrabber = std::make_unique<SwayKeyGrabber>(std::make_unique<SwayIpcConnection>(sway));
    else if (bus.isConnected() && portalOffers(QStringLiteral("org.freedesktop.portal.GlobalShortcuts")))
        p.keyGrabber = std::make_unique<PortalGlobalShortcuts>(bus);
    else if (gnomeShell)
        p.keyGrabber = std::make_unique<GnomeKeybindingGrabber>(
            bus, GnomeKeybindingGrabber::Options{
                     .busName = bundleIdentifier(),
                     .gdbusPath = QStandardPaths::findExecutable(QStringLiteral("gdbus"))});
    else
        p.keyGrabber = std::make_unique<NullKeyGrabber>();
    // XWayland's keymap follows the compositor's, so keys are named as the user's layout has them.
    if (xwayland)
        p.keyboardLayout = std::make_unique<X11KeyboardLayout>(xwayland);
    else
        p.keyboardLayout = std::make_unique<NullKeyboardLayout>();
    // The accessibility reader finds the active application by its "active" window state.
    p.activeWindowTracker = std::make_unique<NullActiveWindowTracker>();
    // In sway the compositor's own virtual keyboard comes first: sway's portal may list a
    // RemoteDesktop that nothing serves. Elsewhere the portal asks the user and is the desktop's way;
    // GNOME asks in every session: it asks when a paste needs the keyboard, not at start.
    std::unique_ptr<KeyEventPoster> keys;
    if (!sway.isEmpty())
        keys = WaylandVirtualKeyboard::create();
    if (!keys && bus.isConnected() && portalOffers(QStringLiteral("org.freedesktop.portal.RemoteDesktop")))
        keys = std::make_unique<PortalKeyEventPoster>(
            bus, *p.settingsStore, PortalKeyEventPoster::Options{.startOnFirstUse = gnomeShell});
    if (!keys && sway.isEmpty())
        keys = WaylandVirtualKeyboard::create();
    p.keyEventPoster = keys ? std::move(keys) : std::make_unique<NullKeyEventPoster>();
    // The reader outlives the window info: Platform destroys its members in reverse order.
    p.activeWindowInfo = std::make_unique<WaylandActiveWindowInfo>(
        xwayland ? std::make_unique<X11ActiveWindowInfo>() : nullptr, kwin, p.accessibilityReader.get());
    std::unique_ptr<PanelWindowHelper> windows;
    // sway focuses every window it manages, so the panel is one it does not.
    if (xwayland)
        windows = std::make_unique<X11PanelWindowHelper>(
            xwayland, sway.isEmpty() ? X11PanelWindowHelper::Management::managed
                                     : X11PanelWindowHelper::Management::unmanaged);
    else
        windows = std::make_unique<NullPanelWindowHelper>();
    if (!sway.isEmpty())
        p.panelWindowHelper = std::make_unique<SwayPanelWindowHelper>(
            std::move(windows), std::make_unique<SwayIpcConnection>(sway));
    else
        p.panelWindowHelper = std::make_unique<WaylandPanelWindowHelper>(std::move(windows), kwin);
    if (auto clipboard =
            DataControlClipboard::create(besideTheProgram("quillpoint-wayland-clipboard-keeper"))) {
        p.clipboard = std::move(clipboard);
    } else if (xwayland && gnomeShell) {
        // Measured on GNOME 43: mutter hands an XWayland clipboard owner's content to Wayland
        // windows whichever window has the focus. Of an owner that goes it keeps the text
        // formats only, cut at 4 MiB, and no other: what we hold at the end goes to the keeper.
        // To keep it, mutter reads the text of every new content at once, before any paste: a
        // kept clipboard given back after that read would be what the paste inserts.
        p.clipboard =
            std::make_unique<X11Clipboard>(xwayland, besideTheProgram("quillpoint-clipboard-keeper"), 1);
        logLine(lcPlatform(), QStringLiteral("PlatformFactory"),
                QStringLiteral("The clipboard goes through XWayland; GNOME passes it to Wayland windows"));
    } else {
        logLine(lcPlatform(), QStringLiteral("PlatformFactory"),
                QStringLiteral("The compositor offers no data-control; the clipboard works only while a "
                               "Quillpoint window has the focus"));
    }
}

void addNull(Platform& p) {
    p.keyGrabber = std::make_unique<NullKeyGrabber>();
    p.keyboardLayout = std::make_unique<NullKeyboardLayout>();
    p.activeWindowTracker = std::make_unique<NullActiveWindowTracker>();
    p.keyEventPoster = std::make_unique<NullKeyEventPoster>();
    p.activeWindowInfo = std::make_unique<NullActiveWindowInfo>();
    p.panelWindowHelper = std::make_unique<NullPanelWindowHelper>();
}

} // namespace

Session detectSession() {
    const QByteArray forced = qgetenv("QUILLPOINT_PLATFORM");
    if (forced == "x11")
        return Session::x11;
    if (forced == "wayland")
        return Session::wayland;
    if (forced == "null")
        return Session::none;
    if (!forced.isEmpty())
        logLine(lcPlatform(), QStringLiteral("PlatformFactory"),
                QStringLiteral("Ignoring unknown QUILLPOINT_PLATFORM=") + QString::fromLocal8Bit(forced));
    if (waylandAnswers() || QGuiApplication::platformName() == QLatin1String("wayland"))
        return Session::wayland;
    if (x11Connection())
        return Session::x11;
    return Session::none;
}

namespace {

std::unique_ptr<FileSecretStore> fileSecretStore() {
    return std::make_unique<FileSecretStore>(
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
        QStringLiteral("/Quillpoint/secrets.json"));
}

} // namespace

std::unique_ptr<SecretStore> createSecretStore(int timeoutMs) {
    return std::make_unique<FallbackSecretStore>(std::make_unique<LibsecretSecretStore>(timeoutMs),
                                                 fileSecretStore());
}

std::unique_ptr<SecretStore> createFileSecretStore() {
    return fileSecretStore();
}

Platform createPlatform(Session session) {
    Platform p = commonPlatform();
    if (session == Session::wayland) {
        addWayland(p, x11Connection());
        return p;
    }
    xcb_connection_t* connection = session == Session::x11 ? x11Connection() : nullptr;
    if (session == Session::x11 && !connection)
        logLine(lcPlatform(), QStringLiteral("PlatformFactory"),
                QStringLiteral("No X11 connection; global shortcuts and synthetic keys are off"));
    if (connection)
        addX11(p, connection);
    else
        addNull(p);
    return p;
}

} // namespace quill::platform
