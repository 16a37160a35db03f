#include "Services.h"

#include "backend/AuthService.h"
#include "backend/KeychainHelper.h"
#include "history/HistorySettings.h"
#include "history/HistoryStore.h"
#include "platform/PlatformFactory.h"
#include "preferences/ActionStore.h"
#include "preferences/PreferencesManager.h"
#include "preferences/UpdateService.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

namespace quill {

Services::Services(Platform platform, Options options)
    : m_platform(std::move(platform))
    , m_options(std::move(options))
    , m_shortcutNames(*m_platform.keyboardLayout) {}

Services::~Services() = default;

std::unique_ptr<Services> Services::forThisSession() {
    Options options;
    options.processId = QCoreApplication::applicationPid();
    options.executablePath = QCoreApplication::applicationFilePath();
    options.version = QCoreApplication::applicationVersion();
    return std::make_unique<Services>(platform::createPlatform(platform::detectSession()),
                                      std::move(options));
}

ShortcutConfiguration& Services::shortcutConfiguration() {
    if (!m_shortcutConfiguration)
        m_shortcutConfiguration = std::make_unique<ShortcutConfiguration>(settingsStore());
    return *m_shortcutConfiguration;
}

ShortcutRegistry& Services::shortcutRegistry() {
    if (!m_shortcutRegistry)
        m_shortcutRegistry = std::make_unique<ShortcutRegistry>(keyGrabber(), m_shortcutNames);
    return *m_shortcutRegistry;
}

PreferencesManager& Services::preferencesManager() {
    if (!m_preferencesManager) {
        m_preferencesManager = std::make_unique<PreferencesManager>(settingsStore(), autostartRegistrar());
        m_preferencesManager->setShortcutHost(keyGrabber().reportsRelease(), keyGrabber().settingsNote());
    }
    return *m_preferencesManager;
}

AuthService& Services::authService() {
    if (!m_authService)
        m_authService = std::make_unique<AuthService>(KeychainHelper(secretStore()), hostInfo(),
                                                      m_options.authRecheckDelayMs);
    return *m_authService;
}

PermissionManager& Services::permissionManager() {
    if (!m_permissionManager)
        m_permissionManager = std::make_unique<PermissionManager>(
            accessibilityStatus(), keyEventPoster(), settingsLauncher(), microphoneAccess(),
            m_options.presentAlert, m_options.permissionMonitoringIntervalMs);
    return *m_permissionManager;
}

UpdateService& Services::updateService() {
    if (!m_updateService) {
        m_network = std::make_unique<QNetworkAccessManager>();
        m_updateService = std::make_unique<UpdateService>(*m_network, UpdateService::feedUrl(settingsStore()),
                                                          m_options.version);
    }
    return *m_updateService;
}

HistorySettings& Services::historySettings() {
    if (!m_historySettings)
        m_historySettings = std::make_unique<HistorySettings>(settingsStore());
    return *m_historySettings;
}

HistoryStore& Services::historyStore() {
    if (!m_historyStore)
        m_historyStore = std::make_unique<HistoryStore>(
            m_options.historyPath.isEmpty() ? HistoryStore::defaultPath() : m_options.historyPath);
    return *m_historyStore;
}

ActionStore& Services::actionStore() {
    if (!m_actionStore)
        m_actionStore = std::make_unique<ActionStore>(
            m_options.actionsPath.isEmpty() ? ActionStore::defaultPath() : m_options.actionsPath,
            m_shortcutNames);
    return *m_actionStore;
}

} // namespace quill
