#pragma once

#include "CommandLine.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QObject>
#include <chrono>
#include <memory>

namespace quill {

class ActionSequence;
class ActionShortcuts;
class AudioCaptureService;
class CaptureGate;
class ExplainSequence;
class FrontApplicationTracker;
class GlobalShortcutService;
class HistoryRecorder;
class HistoryWindow;
class ModelCatalog;
class PanelDismissKey;
class PreferencesWindowController;
class QuillAPIClient;
class Services;
class StatusBarController;
class TranscribeSequence;

// Runs the launch: creates every long-lived component from the composition root, wires the
// shortcuts, the tray menu and the panel to the two sequences, keeps the shortcut services and
// the menu in step with the shortcut store, and opens the preferences window.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // The fixed delays of the launch and the sequences, and the components' own timings; tests
    // shorten them.
    struct Timing {
        std::chrono::milliseconds registrationErrorDelay{1500};
        std::chrono::milliseconds accessibilityAlertDelay{500};
        std::chrono::milliseconds preferencesDelay{1000};
        std::chrono::milliseconds overlayPasteDelay{100};
        std::chrono::milliseconds transcriptionPasteDelay{150};
        int apiIdleTimeoutMs = 30'000;
        double maxRecordingSeconds = 30.0;
        TextCaptureService::Timing textCapture{};
        OverlayPanelController::Timing overlay{};
    };

    explicit AppDelegate(Services& services, QObject* parent = nullptr);
    AppDelegate(Services& services, Timing timing, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // The shortcut observer: brings the services and the status menu in step with a dictionary
    // the shortcut store delivered. Actions without an entry are left alone.
    void applyShortcuts(const ShortcutMap& shortcuts);
    // Tells the preferences window which shortcuts cannot work and why.
    void reportShortcutProblems();

    void showPreferences();
    void showHistory();

    // An action asked for from outside (command line, D-Bus, a desktop key binding), done as its
    // shortcut or menu item would do it. Nothing happens before the launch has run.
    void perform(RemoteAction action);
    // The user's action `id`, as its shortcut or menu item would run it; one that cannot run
    // (unknown, turned off) is reported in the panel.
    void performUserAction(const QString& id);

    // The components; none exists before launch.
    ExplainSequence* explainSequence() const { return m_explainSequence.get(); }
    TranscribeSequence* transcribeSequence() const { return m_transcribeSequence.get(); }
    StatusBarController* statusBarController() const { return m_statusBarController.get(); }
    GlobalShortcutService* explainShortcutService() const { return m_explainShortcutService.get(); }
    GlobalShortcutService* transcribeShortcutService() const { return m_transcribeShortcutService.get(); }
    GlobalShortcutService* cancelShortcutService() const;
    // Escape while the panel is on screen.
    GlobalShortcutService* dismissShortcutService() const;
    OverlayPanelController* overlayPanelController() const { return m_overlayPanelController.get(); }
    const FrontApplicationTracker* frontApplication() const { return m_frontApplication.get(); }
    // None before the first showHistory.
    HistoryWindow* historyWindow() const { return m_historyWindow.get(); }
    ModelCatalog* modelCatalog() const { return m_modelCatalog.get(); }
    ActionSequence* actionSequence() const { return m_actionSequence.get(); }
    ActionShortcuts* actionShortcuts() const { return m_actionShortcuts.get(); }

private:
    void setupApplication();
    void setupServices();
    void checkPermissions();
    // A window of ours is opening: the panel, which stays above every window, makes way for it.
    void hidePanelForWindow();
    void setupActions();
    // Brings the action shortcuts and the tray menu in step with the action file and with the
    // program's own shortcuts.
    void applyActions();

    Services& m_services;
    const Timing m_timing;

    std::unique_ptr<FrontApplicationTracker> m_frontApplication;
    std::unique_ptr<QuillAPIClient> m_apiClient;
    std::unique_ptr<ModelCatalog> m_modelCatalog;
    std::unique_ptr<TextCaptureService> m_textCaptureService;
    std::unique_ptr<AudioCaptureService> m_audioCaptureService;
    std::unique_ptr<OverlayPanelController> m_overlayPanelController;
    std::unique_ptr<CaptureGate> m_captureGate;
    // After the components they use, so that they go first.
    std::unique_ptr<ExplainSequence> m_explainSequence;
    std::unique_ptr<TranscribeSequence> m_transcribeSequence;
    std::unique_ptr<PanelDismissKey> m_panelDismissKey;
    std::unique_ptr<ActionSequence> m_actionSequence;
    std::unique_ptr<HistoryRecorder> m_historyRecorder;
    std::unique_ptr<GlobalShortcutService> m_explainShortcutService;
    std::unique_ptr<GlobalShortcutService> m_transcribeShortcutService;
    std::unique_ptr<ActionShortcuts> m_actionShortcuts;
    std::unique_ptr<StatusBarController> m_statusBarController;
    std::unique_ptr<ShortcutSubscription> m_shortcutObserver;
    std::unique_ptr<PreferencesWindowController> m_preferencesWindow;
    std::unique_ptr<HistoryWindow> m_historyWindow;
};

} // namespace quill
