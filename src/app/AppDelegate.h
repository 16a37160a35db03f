#pragma once

#include "shortcuts/ShortcutConfiguration.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quill {

class APIError;
class ActiveWindowTracker;
class AudioCaptureService;
class AuthService;
class GlobalShortcutService;
class MicrophoneAccess;
class OverlayPanelController;
class PermissionManager;
class PreferencesWindowController;
class QuillAPIClient;
class ShortcutRegistry;
class StatusBarController;
class TextCaptureService;

// Owns every long-lived component, wires their callbacks, runs the launch sequence and the
// explain and transcribe sequences.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // What the delegate works with. An empty pointer stands for the process-wide object, taken
    // when it is first needed, so that launch creates the shared objects in its own order; an
    // empty factory for the component the program normally uses.
    struct Dependencies {
        ShortcutConfiguration* shortcutStore = nullptr;
        ShortcutRegistry* shortcutRegistry = nullptr;
        ActiveWindowTracker* activeWindowTracker = nullptr;
        AuthService* authService = nullptr;
        PermissionManager* permissionManager = nullptr;
        MicrophoneAccess* microphoneAccess = nullptr;
        std::function<std::unique_ptr<QuillAPIClient>()> makeAPIClient;
        std::function<std::unique_ptr<TextCaptureService>()> makeTextCaptureService;
        std::function<std::unique_ptr<AudioCaptureService>()> makeAudioCaptureService;
        std::function<std::unique_ptr<OverlayPanelController>()> makeOverlayPanelController;
        std::function<void()> showPreferences; // empty: the preferences window
        qint64 processId = 0;                  // 0: this process
        QString bundlePath;                    // empty: this program's executable
        std::chrono::milliseconds registrationErrorDelay{1500};
        std::chrono::milliseconds accessibilityAlertDelay{500};
        std::chrono::milliseconds preferencesDelay{1000};
        std::chrono::milliseconds overlayPasteDelay{100};
        std::chrono::milliseconds transcriptionPasteDelay{150};
    };

    explicit AppDelegate(QObject* parent = nullptr);
    explicit AppDelegate(Dependencies dependencies, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // The shortcut observer: brings the services and the status menu in step with a dictionary
    // the shortcut store delivered. Actions without an entry are left alone.
    void applyShortcuts(const ShortcutMap& shortcuts);

    void showPreferences();

    void handleExplain();
    void fetchDetailedExplanation();
    void pasteFromOverlay(const QString& text);

    void toggleTranscription();
    void startTranscription();
    void stopAndTranscribe();
    void abortTranscription();

    StatusBarController* statusBarController() const { return m_statusBarController.get(); }
    GlobalShortcutService* explainShortcutService() const { return m_explainShortcutService.get(); }
    GlobalShortcutService* transcribeShortcutService() const { return m_transcribeShortcutService.get(); }
    GlobalShortcutService* cancelShortcutService() const { return m_cancelShortcutService.get(); }
    TextCaptureService* textCaptureService() const { return m_textCaptureService.get(); }
    AudioCaptureService* audioCaptureService() const { return m_audioCaptureService.get(); }
    QuillAPIClient* apiClient() const { return m_apiClient.get(); }
    OverlayPanelController* overlayPanelController() const { return m_overlayPanelController.get(); }
    std::optional<qint64> lastActiveAppPID() const { return m_lastActiveAppPID; }
    const QString& currentExplainText() const { return m_currentExplainText; }
    bool isTranscribing() const { return m_isTranscribing; }

    // The explain message when no way of reading another application's selection exists.
    static QString accessibilityRequiredMessage(const QString& bundlePath);

private:
    void setupApplication();
    void setupServices();
    void checkPermissions();
    // Callbacks that run `method` while this delegate exists: at once, or on a later turn.
    std::function<void()> weakly(void (AppDelegate::*method)());
    std::function<void()> queued(void (AppDelegate::*method)());
    void showError(const QString& message, bool autoDismiss);
    // Asks for an explanation of `text`; `onText` gets the text so far after every piece, `onEnd`
    // the error that ended it, if any, and the whole text.
    void requestExplanation(const QString& text, bool detailed,
                            std::function<void(const QString& accumulated)> onText,
                            std::function<void(const std::optional<APIError>&, const QString&)> onEnd);
    ShortcutConfiguration& shortcutStore() const;
    ShortcutRegistry& shortcutRegistry() const;
    ActiveWindowTracker& activeWindowTracker() const;
    AuthService& authService() const;
    PermissionManager& permissionManager() const;
    MicrophoneAccess& microphoneAccess() const;

    Dependencies m_dependencies;

    std::unique_ptr<StatusBarController> m_statusBarController;
    std::unique_ptr<GlobalShortcutService> m_explainShortcutService;
    std::unique_ptr<GlobalShortcutService> m_transcribeShortcutService;
    std::unique_ptr<GlobalShortcutService> m_cancelShortcutService;
    std::unique_ptr<TextCaptureService> m_textCaptureService;
    std::unique_ptr<AudioCaptureService> m_audioCaptureService;
    std::unique_ptr<QuillAPIClient> m_apiClient;
    std::unique_ptr<OverlayPanelController> m_overlayPanelController;
    std::optional<qint64> m_lastActiveAppPID;
    std::unique_ptr<ShortcutSubscription> m_shortcutObserver;
    QString m_currentExplainText;
    bool m_isTranscribing = false;
    std::unique_ptr<PreferencesWindowController> m_preferencesWindow;
};

} // namespace quill
