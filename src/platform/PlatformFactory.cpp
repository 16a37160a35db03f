#include "PlatformFactory.h"

#include "AacFileWriter.h"
#include "AppInfo.h"
#include "X11ActiveWindowTracker.h"
#include "X11KeyGrabber.h"
#include "PulsePcmSource.h"
#include "X11PanelWindowHelper.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStandardPaths>

namespace quill::platform {

SettingsStore& settingsStore() {
    static QSettingsStore store;
    return store;
}

SecretStore& secretStore() {
    static FallbackSecretStore store(
        std::make_unique<LibsecretSecretStore>(),
        std::make_unique<FileSecretStore>(
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
            QStringLiteral("/Quillpoint/secrets.json")));
    return store;
}

HostInfo& hostInfo() {
    static SystemHostInfo info;
    return info;
}

AutostartRegistrar& autostartRegistrar() {
    static XdgAutostartRegistrar registrar(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation), bundleIdentifier(),
        QCoreApplication::applicationFilePath());
    return registrar;
}

PanelWindowHelper& panelWindowHelper() {
    static const std::unique_ptr<PanelWindowHelper> helper = []() -> std::unique_ptr<PanelWindowHelper> {
        if (const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
            return std::make_unique<X11PanelWindowHelper>(x11->connection());
        return std::make_unique<NullPanelWindowHelper>();
    }();
    return *helper;
}

std::unique_ptr<PcmSource> createPcmSource() { return std::make_unique<PulsePcmSource>(); }

std::unique_ptr<AudioFileWriter> createAudioFileWriter() { return std::make_unique<AacFileWriter>(); }

namespace {

xcb_connection_t* x11Connection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

} // namespace

KeyGrabber& keyGrabber() {
    // Never destroyed: the grabs last as long as the process, and services may drop theirs at exit.
    static KeyGrabber* const grabber = []() -> KeyGrabber* {
        if (xcb_connection_t* connection = x11Connection())
            return new X11KeyGrabber(connection);
        return new NullKeyGrabber;
    }();
    return *grabber;
}

ActiveWindowTracker& activeWindowTracker() {
    static ActiveWindowTracker* const tracker = []() -> ActiveWindowTracker* {
        if (xcb_connection_t* connection = x11Connection())
            return new X11ActiveWindowTracker(connection);
        return new NullActiveWindowTracker;
    }();
    return *tracker;
}

namespace {

bool onX11() {
    return qGuiApp && qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
}

} // namespace

AccessibilityReader& accessibilityReader() {
    // Asks the session bus for the accessibility bus first: without one, libatspi aborts.
    static const std::unique_ptr<AccessibilityReader> reader = []() -> std::unique_ptr<AccessibilityReader> {
        if (accessibilityStatus().isEnabled().has_value())
            return std::make_unique<AtspiAccessibilityReader>();
        return std::make_unique<NullAccessibilityReader>();
    }();
    return *reader;
}

KeyEventPoster& keyEventPoster() {
    static const std::unique_ptr<KeyEventPoster> poster = []() -> std::unique_ptr<KeyEventPoster> {
        if (onX11())
            return std::make_unique<XTestKeyEventPoster>();
        return std::make_unique<NullKeyEventPoster>();
    }();
    return *poster;
}

ActiveWindowInfo& activeWindowInfo() {
    static const std::unique_ptr<ActiveWindowInfo> info = []() -> std::unique_ptr<ActiveWindowInfo> {
        if (onX11())
            return std::make_unique<X11ActiveWindowInfo>();
        return std::make_unique<NullActiveWindowInfo>();
    }();
    return *info;
}

Clipboard& clipboard() {
    // Lives as long as the application object, like Qt's own clipboard.
    static QtClipboard* const board = new QtClipboard(qGuiApp);
    return *board;
}

AccessibilityStatus& accessibilityStatus() {
    static DBusAccessibilityStatus status;
    return status;
}

SettingsLauncher& settingsLauncher() {
    static DesktopSettingsLauncher launcher;
    return launcher;
}

MicrophoneAccess& microphoneAccess() {
    static SessionMicrophoneAccess access;
    return access;
}

} // namespace quill::platform
