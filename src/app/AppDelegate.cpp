#include "AppDelegate.h"

#include "ActionSequence.h"
#include "ActionShortcuts.h"
#include "CaptureGate.h"
#include "ExplainSequence.h"
#include "FrontApplicationTracker.h"
#include "PanelDismissKey.h"
#include "PermissionManager.h"
#include "Services.h"
#include "StatusBarController.h"
#include "TranscribeSequence.h"
#include "backend/AuthService.h"
#include "backend/ModelCatalog.h"
#include "backend/QuillAPIClient.h"
#include "capture/AudioCaptureService.h"
#include "history/HistoryRecorder.h"
#include "history/HistoryWindow.h"
#include "platform/Log.h"
#include "preferences/ActionStore.h"
#include "preferences/PreferencesManager.h"
#include "preferences/PreferencesWindowController.h"
#include "preferences/UpdateService.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QApplication>
#include <QTimer>

namespace quill {
namespace {

// QUILLPOINT_UPDATE_CHECK=OFF leaves distributions' packages without an update check of their own.
constexpr bool updateCheckBuiltIn = QUILLPOINT_UPDATE_CHECK;

// The name the preferences window gives a shortcut, for desktops that list the shortcuts they
// hand out.
QString shortcutName(const char* name) {
    return QCoreApplication::translate("quill::GeneralPreferencesView", name);
}

QList<ModelInfo> builtInModels() {
    QList<ModelInfo> models;
    for (const ModelChoice& choice : availableModels)
        models.append({QString::fromLatin1(choice.identifier), QString::fromLatin1(choice.label), false});
    return models;
}

} // namespace

AppDelegate::AppDelegate(Services& services, QObject* parent) : AppDelegate(services, Timing{}, parent) {}

AppDelegate::AppDelegate(Services& services, Timing timing, QObject* parent)
    : QObject(parent)
    , m_services(services)
    , m_timing(timing) {}

AppDelegate::~AppDelegate() = default;

GlobalShortcutService* AppDelegate::cancelShortcutService() const {
    return m_transcribeSequence ? &m_transcribeSequence->cancelShortcutService() : nullptr;
}

GlobalShortcutService* AppDelegate::dismissShortcutService() const {
    return m_panelDismissKey ? &m_panelDismissKey->shortcutService() : nullptr;
}

void AppDelegate::applicationDidFinishLaunching() {
    setupApplication();
}

void AppDelegate::applicationWillTerminate() {
    // Run at once: the event loop has stopped, a posted task would never run. A quit before the
    // launch ran has nothing to undo.
    if (!m_explainShortcutService)
        return;
    // The user's content goes back before the clipboard is handed on as the program ends.
    m_textCaptureService->finishPendingRestore();
    m_services.clipboard().keepAfterExit();
    m_explainShortcutService->unregister();
    m_transcribeShortcutService->unregister();
    m_actionShortcuts->unregister();
}

void AppDelegate::setupApplication() {
    // The window in front when we start is another program's unless it is one of ours.
    m_frontApplication = std::make_unique<FrontApplicationTracker>(m_services.activeWindowTracker(),
                                                                   m_services.options().processId);
    m_frontApplication->start();

    setupServices();
    checkPermissions();

    ShortcutConfiguration& shortcuts = m_services.shortcutConfiguration();
    PermissionManager& permissions = m_services.permissionManager();
    m_statusBarController = std::make_unique<StatusBarController>(
        shortcuts.shortcut(ShortcutAction::explainSelection),
        shortcuts.shortcut(ShortcutAction::transcribeOnly),
        updateCheckBuiltIn ? StatusBarController::UpdateCheck::offered
                           : StatusBarController::UpdateCheck::none,
        [&permissions] { return permissions.isAccessibilityEnabled(); }, m_services.authService(),
        m_services.shortcutNames());
    StatusBarController* statusBar = m_statusBarController.get();
    connect(statusBar, &StatusBarController::explainRequested, m_explainSequence.get(),
            &ExplainSequence::handleExplain, Qt::QueuedConnection);
    connect(statusBar, &StatusBarController::transcribeRequested, m_transcribeSequence.get(),
            &TranscribeSequence::toggleTranscription);
    connect(statusBar, &StatusBarController::quitRequested, qApp, &QCoreApplication::quit);
    connect(statusBar, &StatusBarController::preferencesRequested, this, &AppDelegate::showPreferences);
    connect(statusBar, &StatusBarController::historyRequested, this, &AppDelegate::showHistory);
    connect(statusBar, &StatusBarController::lastAnswerRequested, this, [this] {
        // The recording's panel is the only sign that the microphone is open.
        if (!m_transcribeSequence->isTranscribing())
            m_overlayPanelController->showLastAnswer();
    });
    connect(m_overlayPanelController.get(), &OverlayPanelController::lastAnswerAvailable, statusBar,
            [statusBar] {
                statusBar->setLastAnswerAvailable(true);
                statusBar->buildMenu();
            });
    connect(statusBar, &StatusBarController::accessibilityRequested, &permissions,
            &PermissionManager::showAccessibilityAlert);
    // The update service is made at the first check, not at launch.
    connect(statusBar, &StatusBarController::updateCheckRequested, this,
            [&services = m_services] { services.updateService().checkForUpdates(); });
    setupActions();
    // Scripts and tests that press the keys right after a start wait for this line.
    if (m_explainShortcutService->isRegistered() && m_transcribeShortcutService->isRegistered())
        logLine(lcApp(), QStringLiteral("AppDelegate"), QStringLiteral("Shortcuts registered"));
    m_statusBarController->setupStatusItem();

    connect(&permissions, &PermissionManager::accessibilityUpdated, m_statusBarController.get(),
            &StatusBarController::buildMenu);
    permissions.startAccessibilityMonitoring();

    m_shortcutObserver =
        shortcuts.subscribe(this, [this](const ShortcutMap& delivered) { applyShortcuts(delivered); });

    // A keyring waiting for the user to unlock it answers later; only a finished check that did
    // not sign in asks the user to.
    AuthService& auth = m_services.authService();
    auto showPreferencesIfSignedOut = [this, &auth] {
        if (!auth.isAuthenticated())
            QTimer::singleShot(m_timing.preferencesDelay, this, &AppDelegate::showPreferences);
    };
    if (auth.isChecking())
        connect(&auth, &AuthService::checkFinished, this, showPreferencesIfSignedOut,
                Qt::SingleShotConnection);
    else
        showPreferencesIfSignedOut();
}

void AppDelegate::setupServices() {
    PreferencesManager& preferences = m_services.preferencesManager();
    m_apiClient =
        std::make_unique<QuillAPIClient>([&auth = m_services.authService()] { return auth.bearerToken(); },
                                         [this] { return m_modelCatalog->effectiveModel(); },
                                         m_services.settingsStore(), nullptr, m_timing.apiIdleTimeoutMs);
    m_modelCatalog = std::make_unique<ModelCatalog>(
        *m_apiClient, m_services.authService(), builtInModels(),
        [&preferences] { return preferences.hasChosenModel() ? preferences.selectedModel() : QString(); });
    m_textCaptureService = std::make_unique<TextCaptureService>(
        m_services.accessibilityReader(), m_services.keyEventPoster(), m_services.activeWindowInfo(),
        m_services.clipboard(), m_timing.textCapture);
    m_audioCaptureService = std::make_unique<AudioCaptureService>([&services = m_services, &preferences] {
        return std::make_unique<AudioRecorder>(services.createPcmSource(preferences.microphone()),
                                               services.createAudioFileWriter());
    });
    m_audioCaptureService->maxDuration = m_timing.maxRecordingSeconds;
    m_overlayPanelController = std::make_unique<OverlayPanelController>(
        m_services.panelWindowHelper(), m_timing.overlay, [&helper = m_services.panelWindowHelper()] {
            return OverlayPanelController::currentDisplayLayout(helper);
        });

    m_captureGate = std::make_unique<CaptureGate>();

    ShortcutConfiguration& shortcuts = m_services.shortcutConfiguration();
    ShortcutRegistry& registry = m_services.shortcutRegistry();
    m_explainSequence = std::make_unique<ExplainSequence>(
        ExplainSequence::Dependencies{*m_apiClient, *m_textCaptureService, *m_overlayPanelController,
                                      m_services.permissionManager(), m_services.authService(),
                                      *m_frontApplication, *m_captureGate},
        m_services.options().executablePath, m_timing.overlayPasteDelay);
    m_transcribeSequence = std::make_unique<TranscribeSequence>(
        TranscribeSequence::Dependencies{*m_audioCaptureService, *m_apiClient, *m_textCaptureService,
                                         *m_overlayPanelController, shortcuts, registry,
                                         m_services.permissionManager(), m_services.microphoneAccess(),
                                         preferences, *m_captureGate, m_services.shortcutNames()},
        shortcuts.shortcut(ShortcutAction::cancelTranscription), m_timing.transcriptionPasteDelay);
    m_panelDismissKey =
        std::make_unique<PanelDismissKey>(*m_overlayPanelController, *m_transcribeSequence, registry);

    // Direct connections: each result is on disk before the panel shows it or the paste goes out.
    m_historyRecorder = std::make_unique<HistoryRecorder>(
        m_services.historyStore(), m_services.historySettings(), m_services.activeWindowInfo());
    connect(m_explainSequence.get(), &ExplainSequence::explanationFinished, m_historyRecorder.get(),
            &HistoryRecorder::recordExplanation);
    connect(m_transcribeSequence.get(), &TranscribeSequence::transcriptReceived, m_historyRecorder.get(),
            &HistoryRecorder::recordTranscript);
    connect(m_transcribeSequence.get(), &TranscribeSequence::transcriptPasted, m_historyRecorder.get(),
            &HistoryRecorder::transcriptPasted);

    connect(m_overlayPanelController.get(), &OverlayPanelController::detailRequested, m_explainSequence.get(),
            &ExplainSequence::fetchDetailedExplanation, Qt::QueuedConnection);
    connect(m_overlayPanelController.get(), &OverlayPanelController::pasteRequested, m_explainSequence.get(),
            &ExplainSequence::pasteFromOverlay);

    // The explain trigger returns at once; the sequence runs on a later turn of the main loop.
    m_explainShortcutService = std::make_unique<GlobalShortcutService>(
        shortcuts.shortcut(ShortcutAction::explainSelection), registry);
    connect(m_explainShortcutService.get(), &GlobalShortcutService::triggered, m_explainSequence.get(),
            &ExplainSequence::handleExplain, Qt::QueuedConnection);
    m_explainShortcutService->setDescription(shortcutName("Explainer Mode"));
    m_explainShortcutService->registerShortcut();
    m_transcribeShortcutService =
        std::make_unique<GlobalShortcutService>(shortcuts.shortcut(ShortcutAction::transcribeOnly), registry);
    connect(m_transcribeShortcutService.get(), &GlobalShortcutService::triggered, m_transcribeSequence.get(),
            &TranscribeSequence::shortcutPressed);
    connect(m_transcribeShortcutService.get(), &GlobalShortcutService::released, m_transcribeSequence.get(),
            &TranscribeSequence::shortcutReleased);
    m_transcribeShortcutService->setDescription(shortcutName("Transcribe Mode"));
    m_transcribeShortcutService->registerShortcut();
    m_transcribeSequence->cancelShortcutService().setDescription(shortcutName("Cancel Recording"));
    connect(&registry, &ShortcutRegistry::lateFailureReported, this, [this](const QString& message) {
        // Escape only spares a click on the panel's close button: its refusal must not take the
        // place of the answer in the panel.
        if (message == m_panelDismissKey->refusal())
            return;
        m_overlayPanelController->showError(message, true);
        reportShortcutProblems();
    });

    std::optional<QString> error = m_explainShortcutService->registrationError();
    if (!error || error->isEmpty())
        error = m_transcribeShortcutService->registrationError();
    if (error && !error->isEmpty()) {
        logLine(lcApp(), QStringLiteral("AppDelegate"), *error);
        QTimer::singleShot(m_timing.registrationErrorDelay, this,
                           [this, message = *error] { m_overlayPanelController->showError(message, true); });
    }
}

void AppDelegate::checkPermissions() {
    PermissionManager& permissions = m_services.permissionManager();
    if (permissions.isAccessibilityEnabled())
        return;
    QTimer::singleShot(m_timing.accessibilityAlertDelay, this,
                       [&permissions] { permissions.showAccessibilityAlert(); });
}

void AppDelegate::applyShortcuts(const ShortcutMap& shortcuts) {
    if (const auto it = shortcuts.find(ShortcutAction::explainSelection); it != shortcuts.end()) {
        m_explainShortcutService->updateShortcut(it->second);
        m_statusBarController->setExplainShortcut(it->second);
        m_statusBarController->buildMenu();
    }
    if (const auto it = shortcuts.find(ShortcutAction::transcribeOnly); it != shortcuts.end()) {
        m_transcribeShortcutService->updateShortcut(it->second);
        m_statusBarController->setTranscribeShortcut(it->second);
        m_statusBarController->buildMenu();
        m_statusBarController->updateTooltip();
    }
    if (const auto it = shortcuts.find(ShortcutAction::cancelTranscription); it != shortcuts.end())
        m_transcribeSequence->cancelShortcutService().updateShortcut(it->second);
    applyActions();
    reportShortcutProblems();
}

void AppDelegate::setupActions() {
    m_actionSequence = std::make_unique<ActionSequence>(
        ActionSequence::Dependencies{*m_apiClient, *m_textCaptureService, *m_overlayPanelController,
                                     m_services.permissionManager(), m_services.authService(),
                                     *m_frontApplication, *m_captureGate, m_services.clipboard()},
        m_services.options().executablePath, m_timing.overlayPasteDelay);
    // The panel shows one answer at a time: whichever starts last takes it.
    connect(m_actionSequence.get(), &ActionSequence::started, m_explainSequence.get(),
            &ExplainSequence::cancel);
    connect(m_explainSequence.get(), &ExplainSequence::started, m_actionSequence.get(),
            &ActionSequence::cancel);
    // Direct: the result is on disk before it is shown, copied or pasted.
    connect(m_actionSequence.get(), &ActionSequence::resultFinished, m_historyRecorder.get(),
            &HistoryRecorder::recordActionResult);

    m_actionShortcuts = std::make_unique<ActionShortcuts>(m_services.shortcutRegistry());
    connect(m_actionShortcuts.get(), &ActionShortcuts::triggered, this, &AppDelegate::performUserAction);
    connect(m_statusBarController.get(), &StatusBarController::userActionRequested, this,
            &AppDelegate::performUserAction);
    connect(&m_services.actionStore(), &ActionStore::changed, this, &AppDelegate::applyActions);
    applyActions();
}

void AppDelegate::applyActions() {
    ShortcutConfiguration& shortcuts = m_services.shortcutConfiguration();
    const UserActionList& actions = m_services.actionStore().actions();
    m_actionShortcuts->apply(actions, {shortcuts.shortcut(ShortcutAction::explainSelection),
                                       shortcuts.shortcut(ShortcutAction::transcribeOnly),
                                       shortcuts.shortcut(ShortcutAction::cancelTranscription)});
    QList<StatusBarController::MenuAction> menu;
    for (const UserAction& action : actions) {
        if (action.enabled)
            menu.append({action.id, action.name, action.shortcut});
    }
    m_statusBarController->setUserActions(menu);
    m_statusBarController->buildMenu();
}

void AppDelegate::performUserAction(const QString& id) {
    if (!m_actionSequence)
        return;
    const ActionStore& store = m_services.actionStore();
    if (const auto problem = store.runProblem(id)) {
        logLine(lcApp(), QStringLiteral("AppDelegate"), *problem);
        m_overlayPanelController->showError(*problem, true);
        return;
    }
    m_actionSequence->run(*store.find(id));
}

void AppDelegate::reportShortcutProblems() {
    if (!m_preferencesWindow || !m_explainShortcutService)
        return;
    m_preferencesWindow->setShortcutProblem(ShortcutAction::explainSelection,
                                            m_explainShortcutService->registrationError());
    m_preferencesWindow->setShortcutProblem(ShortcutAction::transcribeOnly,
                                            m_transcribeShortcutService->registrationError());
    // Cancel is taken only while a recording runs; ask now rather than at the first recording.
    ShortcutRegistry& registry = m_services.shortcutRegistry();
    m_preferencesWindow->setShortcutProblem(
        ShortcutAction::cancelTranscription,
        registry.hasEventTap()
            ? registry.check(m_services.shortcutConfiguration().shortcut(ShortcutAction::cancelTranscription))
            : std::nullopt);
}

void AppDelegate::perform(RemoteAction action) {
    if (!m_explainSequence)
        return;
    switch (action) {
    case RemoteAction::explain:
        QMetaObject::invokeMethod(m_explainSequence.get(), &ExplainSequence::handleExplain,
                                  Qt::QueuedConnection);
        break;
    case RemoteAction::transcribe:
        m_transcribeSequence->toggleTranscription();
        break;
    case RemoteAction::cancel:
        // Like the cancel key, which is live only while a recording runs.
        if (m_transcribeSequence->isTranscribing())
            m_transcribeSequence->abortTranscription();
        break;
    case RemoteAction::preferences:
        showPreferences();
        break;
    case RemoteAction::history:
        showHistory();
        break;
    case RemoteAction::quit:
        // After the reply to the caller has gone out.
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        break;
    case RemoteAction::action:
        // Names no action without its id; see performUserAction.
        break;
    }
}

void AppDelegate::showPreferences() {
    if (!m_preferencesWindow) {
        m_preferencesWindow = std::make_unique<PreferencesWindowController>(
            m_services.shortcutConfiguration(), m_services.shortcutNames(), m_services.preferencesManager(),
            m_services.authService(), m_services.audioInputList(), *m_modelCatalog,
            m_services.historySettings(), nullptr, &m_services.actionStore());
        // Recording a shortcut must see the very keys the global shortcuts would take.
        connect(m_preferencesWindow.get(), &PreferencesWindowController::shortcutRecordingChanged, this,
                [&registry = m_services.shortcutRegistry()](bool recording) {
                    registry.setSuspended(recording);
                });
        reportShortcutProblems();
    }
    hidePanelForWindow();
    // The backend may have started, or changed its models, since it was last asked.
    m_modelCatalog->refresh();
    m_preferencesWindow->showPreferences();
}

void AppDelegate::showHistory() {
    if (!m_historyWindow)
        m_historyWindow = std::make_unique<HistoryWindow>(m_services.historyStore(), m_services.clipboard());
    hidePanelForWindow();
    m_historyWindow->present();
}

void AppDelegate::hidePanelForWindow() {
    // A running recording keeps its panel: nothing else shows that the microphone is open.
    if (m_transcribeSequence && !m_transcribeSequence->isTranscribing())
        m_overlayPanelController->hide();
}

} // namespace quill
