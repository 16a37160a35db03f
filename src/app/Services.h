#pragma once

#include "PermissionManager.h"
#include "platform/Platform.h"
#include "shortcuts/ShortcutNames.h"

#include <QString>
#include <memory>

class QNetworkAccessManager;

namespace quill {

class ActionStore;
class AuthService;
class HistorySettings;
class HistoryStore;
class PreferencesManager;
class ShortcutConfiguration;
class ShortcutRegistry;
class UpdateService;

// The composition root: owns the platform objects and the process-wide state objects, and
// hands them out by reference. The state objects are created on first use, so the program's
// launch creates them in the order it uses them (the sign-in runs when the tray menu is first
// built). Lives as long as the application object; main thread only.
class Services {
public:
    struct Options {
        // How permission alerts are shown; tests answer them without a window.
        PermissionManager::AlertPresenter presentAlert = &PermissionManager::showAlertModally;
        int permissionMonitoringIntervalMs = 2000;
        // Wait before the sign-in is checked again after a sign-out.
        int authRecheckDelayMs = 500;
        // The program's own process and executable, told apart from the applications it reads.
        qint64 processId = 0;
        QString executablePath;
        QString version;
        // The history database; empty for the user's own.
        QString historyPath;
        // The user's actions; empty for the user's own file.
        QString actionsPath;
    };

    Services(Platform platform, Options options);
    // The platform of the session this process runs in, and this program's own identity.
    static std::unique_ptr<Services> forThisSession();
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;

    SettingsStore& settingsStore() { return *m_platform.settingsStore; }
    SecretStore& secretStore() { return *m_platform.secretStore; }
    HostInfo& hostInfo() { return *m_platform.hostInfo; }
    AutostartRegistrar& autostartRegistrar() { return *m_platform.autostartRegistrar; }
    KeyGrabber& keyGrabber() { return *m_platform.keyGrabber; }
    ActiveWindowTracker& activeWindowTracker() { return *m_platform.activeWindowTracker; }
    AccessibilityStatus& accessibilityStatus() { return *m_platform.accessibilityStatus; }
    AccessibilityReader& accessibilityReader() { return *m_platform.accessibilityReader; }
    KeyEventPoster& keyEventPoster() { return *m_platform.keyEventPoster; }
    ActiveWindowInfo& activeWindowInfo() { return *m_platform.activeWindowInfo; }
    Clipboard& clipboard() { return *m_platform.clipboard; }
    SettingsLauncher& settingsLauncher() { return *m_platform.settingsLauncher; }
    MicrophoneAccess& microphoneAccess() { return *m_platform.microphoneAccess; }
    PanelWindowHelper& panelWindowHelper() { return *m_platform.panelWindowHelper; }
    AudioInputList& audioInputList() { return *m_platform.audioInputList; }
    const ShortcutNames& shortcutNames() const { return m_shortcutNames; }
    std::unique_ptr<PcmSource> createPcmSource(const QString& input) {
        return m_platform.createPcmSource(input);
    }
    std::unique_ptr<AudioFileWriter> createAudioFileWriter() { return m_platform.createAudioFileWriter(); }

    ShortcutConfiguration& shortcutConfiguration();
    ShortcutRegistry& shortcutRegistry();
    PreferencesManager& preferencesManager();
    AuthService& authService();
    PermissionManager& permissionManager();
    UpdateService& updateService();
    HistorySettings& historySettings();
    HistoryStore& historyStore();
    ActionStore& actionStore();

    const Options& options() const { return m_options; }

private:
    Platform m_platform;
    Options m_options;
    ShortcutNames m_shortcutNames;
    // Declared after the platform objects they use, so that they go first.
    std::unique_ptr<ShortcutConfiguration> m_shortcutConfiguration;
    std::unique_ptr<ShortcutRegistry> m_shortcutRegistry;
    std::unique_ptr<PreferencesManager> m_preferencesManager;
    std::unique_ptr<AuthService> m_authService;
    std::unique_ptr<PermissionManager> m_permissionManager;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<UpdateService> m_updateService;
    std::unique_ptr<HistorySettings> m_historySettings;
    std::unique_ptr<HistoryStore> m_historyStore;
    std::unique_ptr<ActionStore> m_actionStore;
};

} // namespace quill
