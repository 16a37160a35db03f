#include "PlatformFactory.h"

#include "AppInfo.h"
#include "Log.h"
#include "PlatformNull.h"
#include "QtClipboard.h"
#include "atspi/AtspiAccessibilityReader.h"
#include "atspi/DBusAccessibilityStatus.h"
#include "audio/AudioEncoderModule.h"
#include "audio/DeferredAudioFileWriter.h"
#include "audio/PulseAudioInputList.h"
#include "audio/PulsePcmSource.h"
#include "audio/SessionMicrophoneAccess.h"
#include "secret/FallbackSecretStore.h"
#include "secret/LibsecretSecretStore.h"
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
#include <QGuiApplication>
#include <QStandardPaths>

namespace quill::platform {
namespace {

xcb_connection_t* x11Connection() {
    const auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
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
    p.clipboard = std::make_unique<X11Clipboard>();
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
    if (forced == "null")
        return Session::none;
    if (!forced.isEmpty())
        logLine(lcPlatform(), QStringLiteral("PlatformFactory"),
                QStringLiteral("Ignoring unknown QUILLPOINT_PLATFORM=") + QString::fromLocal8Bit(forced));
    if (x11Connection())
        return Session::x11;
    if (QGuiApplication::platformName() == QLatin1String("wayland"))
        return Session::wayland;
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
