#include "PlatformFactory.h"

#include "AacFileWriter.h"
#include "AppInfo.h"
#include "PulsePcmSource.h"
#include "X11ActiveWindowTracker.h"
#include "X11KeyGrabber.h"

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

} // namespace quill::platform
