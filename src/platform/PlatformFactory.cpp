#include "PlatformFactory.h"

#include "AppInfo.h"

#include <QCoreApplication>
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

} // namespace quill::platform
