#include "AppDelegate.h"

#include "PermissionManager.h"
#include "StatusBarController.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "capture/AudioCaptureService.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "platform/ActiveWindowTracker.h"
#include "platform/Log.h"
#include "platform/MicrophoneAccess.h"
#include "platform/PlatformFactory.h"
#include "preferences/PreferencesManager.h"
#include "preferences/PreferencesWindowController.h"
#include "preferences/UpdateService.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/KeyCodes.h"

#include <QApplication>
#include <QFile>
#include <QPointer>
#include <QTimer>

namespace quill {
namespace {

// The store normally has an entry for every action; a missing one falls back to the default.
Shortcut shortcutOrFallback(const ShortcutMap& shortcuts, ShortcutAction action) {
    const auto it = shortcuts.find(action);
    return it != shortcuts.end() ? it->second : defaultShortcut(action);
}

} // namespace

AppDelegate::AppDelegate(QObject* parent) : AppDelegate(Dependencies{}, parent) {}

std::function<void()> AppDelegate::weakly(void (AppDelegate::*method)()) {
    return [self = QPointer(this), method] {
        if (self)
            (self.data()->*method)();
    };
}

std::function<void()> AppDelegate::queued(void (AppDelegate::*method)()) {
    return [self = QPointer(this), method] {
        QMetaObject::invokeMethod(
            self,
            [self, method] {
                if (self)
                    (self.data()->*method)();
            },
            Qt::QueuedConnection);
    };
}

AppDelegate::AppDelegate(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_dependencies(std::move(dependencies)) {
    if (m_dependencies.processId == 0)
        m_dependencies.processId = QCoreApplication::applicationPid();
    if (m_dependencies.bundlePath.isEmpty())
        m_dependencies.bundlePath = QCoreApplication::applicationFilePath();
}

AppDelegate::~AppDelegate() = default;

ShortcutConfiguration& AppDelegate::shortcutStore() const {
    return m_dependencies.shortcutStore ? *m_dependencies.shortcutStore : ShortcutConfiguration::shared();
}

ShortcutRegistry& AppDelegate::shortcutRegistry() const {
    return m_dependencies.shortcutRegistry ? *m_dependencies.shortcutRegistry : ShortcutRegistry::shared();
}

ActiveWindowTracker& AppDelegate::activeWindowTracker() const {
    return m_dependencies.activeWindowTracker ? *m_dependencies.activeWindowTracker
                                              : platform::activeWindowTracker();
}

AuthService& AppDelegate::authService() const {
    return m_dependencies.authService ? *m_dependencies.authService : AuthService::shared();
}

PermissionManager& AppDelegate::permissionManager() const {
    return m_dependencies.permissionManager ? *m_dependencies.permissionManager : PermissionManager::shared();
}

MicrophoneAccess& AppDelegate::microphoneAccess() const {
    return m_dependencies.microphoneAccess ? *m_dependencies.microphoneAccess : platform::microphoneAccess();
}

void AppDelegate::applicationDidFinishLaunching() {
    setupApplication();
}

void AppDelegate::applicationWillTerminate() {
    // Run at once: the event loop has stopped, a posted task would never run.
    if (m_explainShortcutService)
        m_explainShortcutService->unregister();
    if (m_transcribeShortcutService)
        m_transcribeShortcutService->unregister();
}

void AppDelegate::setupApplication() {
    // The window in front when we start is another program's unless it is one of ours.
    if (const auto front = activeWindowTracker().frontProcessId();
        front && *front != m_dependencies.processId)
        m_lastActiveAppPID = *front;

    setupServices();
    checkPermissions();

    const ShortcutMap& shortcuts = shortcutStore().shortcuts();
    StatusBarController::Callbacks callbacks;
    callbacks.explain = queued(&AppDelegate::handleExplain);
    callbacks.transcribe = weakly(&AppDelegate::toggleTranscription);
    callbacks.quit = [] { QApplication::quit(); };
    callbacks.preferences = weakly(&AppDelegate::showPreferences);
    callbacks.requestAccessibility = [self = QPointer(this)] {
        if (self)
            self->permissionManager().showAccessibilityAlert();
    };
    callbacks.checkForUpdates = [] { UpdateService::shared().checkForUpdates(); };
    PermissionManager* permissions = &permissionManager();
    m_statusBarController = std::make_unique<StatusBarController>(
        shortcutOrFallback(shortcuts, ShortcutAction::explainSelection),
        shortcutOrFallback(shortcuts, ShortcutAction::transcribeOnly), std::move(callbacks),
        [permissions] { return permissions->isAccessibilityEnabled(); }, authService());
    m_statusBarController->setupStatusItem();

    permissionManager().startAccessibilityMonitoring([self = QPointer(this)](bool) {
        if (self && self->m_statusBarController)
            self->m_statusBarController->buildMenu();
    });

    m_shortcutObserver =
        shortcutStore().subscribe(this, [self = QPointer(this)](const ShortcutMap& delivered) {
            if (self)
                self->applyShortcuts(delivered);
        });

    if (!authService().isAuthenticated()) {
        QTimer::singleShot(m_dependencies.preferencesDelay, this, &AppDelegate::showPreferences);
    }
}

void AppDelegate::setupServices() {
    m_apiClient = m_dependencies.makeAPIClient
                      ? m_dependencies.makeAPIClient()
                      : std::make_unique<QuillAPIClient>(KeychainHelper(), PreferencesManager::shared(),
                                                         platform::settingsStore());
    m_textCaptureService = m_dependencies.makeTextCaptureService
                               ? m_dependencies.makeTextCaptureService()
                               : std::make_unique<TextCaptureService>(
                                     platform::accessibilityReader(), platform::keyEventPoster(),
                                     platform::activeWindowInfo(), platform::clipboard());

    m_audioCaptureService = m_dependencies.makeAudioCaptureService ? m_dependencies.makeAudioCaptureService()
                                                                   : std::make_unique<AudioCaptureService>();
    m_audioCaptureService->onMaxDurationReached = queued(&AppDelegate::stopAndTranscribe);
    m_audioCaptureService->onAudioLevel = [self = QPointer(this)](float level) {
        QMetaObject::invokeMethod(
            self,
            [self, level] {
                if (self && self->m_overlayPanelController)
                    self->m_overlayPanelController->viewModel().setAudioLevel(level);
            },
            Qt::QueuedConnection);
    };

    m_overlayPanelController = m_dependencies.makeOverlayPanelController
                                   ? m_dependencies.makeOverlayPanelController()
                                   : std::make_unique<OverlayPanelController>(platform::panelWindowHelper());
    m_overlayPanelController->onFetchDetail = queued(&AppDelegate::fetchDetailedExplanation);
    m_overlayPanelController->onPaste = [self = QPointer(this)](const QString& text) {
        if (self)
            self->pasteFromOverlay(text);
    };

    const ShortcutMap& shortcuts = shortcutStore().shortcuts();
    const auto makeService = [&](ShortcutAction action, std::function<void()> trigger) {
        return std::make_unique<GlobalShortcutService>(shortcutOrFallback(shortcuts, action),
                                                       std::move(trigger), shortcutRegistry());
    };
    // The explain trigger returns at once; the sequence runs on a later turn of the main loop.
    m_explainShortcutService =
        makeService(ShortcutAction::explainSelection, queued(&AppDelegate::handleExplain));
    m_explainShortcutService->registerShortcut();
    m_transcribeShortcutService =
        makeService(ShortcutAction::transcribeOnly, weakly(&AppDelegate::toggleTranscription));
    m_transcribeShortcutService->registerShortcut();
    // Live only while a recording runs, so that Escape reaches the applications otherwise.
    m_cancelShortcutService =
        makeService(ShortcutAction::cancelTranscription, weakly(&AppDelegate::abortTranscription));

    std::optional<QString> error = m_explainShortcutService->registrationError();
    if (!error || error->isEmpty())
        error = m_transcribeShortcutService->registrationError();
    if (error && !error->isEmpty()) {
        logLine(QStringLiteral("AppDelegate"), *error);
        QTimer::singleShot(m_dependencies.registrationErrorDelay, this, [this, message = *error] {
            if (m_overlayPanelController)
                m_overlayPanelController->showError(message, true);
        });
    }

    const qint64 ownProcess = m_dependencies.processId;
    connect(&activeWindowTracker(), &ActiveWindowTracker::activated, this, [this, ownProcess](qint64 pid) {
        if (pid != ownProcess)
            m_lastActiveAppPID = pid;
    });
}

void AppDelegate::checkPermissions() {
    if (permissionManager().isAccessibilityEnabled())
        return;
    QTimer::singleShot(m_dependencies.accessibilityAlertDelay, this,
                       [this] { permissionManager().showAccessibilityAlert(); });
}

void AppDelegate::applyShortcuts(const ShortcutMap& shortcuts) {
    if (const auto it = shortcuts.find(ShortcutAction::explainSelection); it != shortcuts.end()) {
        if (m_explainShortcutService)
            m_explainShortcutService->updateShortcut(it->second);
        if (m_statusBarController) {
            m_statusBarController->setExplainShortcut(it->second);
            m_statusBarController->buildMenu();
        }
    }
    if (const auto it = shortcuts.find(ShortcutAction::transcribeOnly); it != shortcuts.end()) {
        if (m_transcribeShortcutService)
            m_transcribeShortcutService->updateShortcut(it->second);
        if (m_statusBarController) {
            m_statusBarController->setTranscribeShortcut(it->second);
            m_statusBarController->buildMenu();
            m_statusBarController->updateTooltip();
        }
    }
    if (const auto it = shortcuts.find(ShortcutAction::cancelTranscription); it != shortcuts.end()) {
        if (m_cancelShortcutService)
            m_cancelShortcutService->updateShortcut(it->second);
    }
}

void AppDelegate::showPreferences() {
    if (m_dependencies.showPreferences) {
        m_dependencies.showPreferences();
        return;
    }
    if (!m_preferencesWindow) {
        m_preferencesWindow = std::make_unique<PreferencesWindowController>(
            shortcutStore(), PreferencesManager::shared(), authService());
        // Recording a shortcut must see the very keys the global shortcuts would take.
        connect(m_preferencesWindow.get(), &PreferencesWindowController::shortcutRecordingChanged, this,
                [](bool recording) { GlobalShortcutService::setSuspended(recording); });
    }
    m_preferencesWindow->showPreferences();
}

void AppDelegate::showError(const QString& message, bool autoDismiss) {
    if (m_overlayPanelController)
        m_overlayPanelController->showError(message, autoDismiss);
}

QString AppDelegate::accessibilityRequiredMessage(const QString& bundlePath) {
    return QStringLiteral("Accessibility required.\n\nIf already turned on, log out and back in, then start "
                          "Quillpoint again:\n") +
           bundlePath;
}

void AppDelegate::handleExplain() {
    if (!permissionManager().canReadSelections()) {
        showError(accessibilityRequiredMessage(m_dependencies.bundlePath), false);
        permissionManager().openAccessibilitySettings();
        return;
    }
    if (!authService().isAuthenticated()) {
        showError(QStringLiteral("Please sign in via Preferences (Ctrl+,)"), true);
        return;
    }

    // With one of our own windows in front (the tray menu, say), read the application the user
    // came from; otherwise whatever has the focus.
    std::optional<qint32> target;
    if (const auto front = activeWindowTracker().frontProcessId();
        front && *front == m_dependencies.processId) {
        if (m_lastActiveAppPID)
            target = static_cast<qint32>(*m_lastActiveAppPID);
    }

    std::optional<QString> text;
    if (m_textCaptureService) {
        text = m_textCaptureService->selectedTextViaAccessibility(target);
        if (!text)
            text = m_textCaptureService->selectedTextViaCopy();
    }
    if (!text || text->trimmed().isEmpty()) {
        showError(QStringLiteral("No text selected"), true);
        return;
    }
    m_currentExplainText = *text;

    if (m_overlayPanelController) {
        ExplanationViewModel& viewModel = m_overlayPanelController->viewModel();
        viewModel.reset();
        viewModel.setState(ExplanationState::loading());
        viewModel.setLoadingMessage(std::nullopt);
        m_overlayPanelController->showPanel();
    }

    requestExplanation(
        *text, false,
        [this](const QString& accumulated) {
            if (m_overlayPanelController) {
                m_overlayPanelController->viewModel().setState(ExplanationState::content(accumulated));
                m_overlayPanelController->scheduleResize();
            }
        },
        [this](const std::optional<APIError>& error, const QString& accumulated) {
            if (error) {
                showError(error->message(), true);
                return;
            }
            if (m_overlayPanelController)
                m_overlayPanelController->finishStreaming();
            if (accumulated.isEmpty())
                showError(QStringLiteral("No response received"), true);
        });
}

void AppDelegate::fetchDetailedExplanation() {
    if (m_currentExplainText.isEmpty())
        return;
    if (m_overlayPanelController)
        m_overlayPanelController->viewModel().setIsLoadingDetail(true);

    requestExplanation(
        m_currentExplainText, true,
        [this](const QString& accumulated) {
            if (m_overlayPanelController) {
                m_overlayPanelController->viewModel().setDetailedText(accumulated);
                m_overlayPanelController->scheduleResize();
            }
        },
        [this](const std::optional<APIError>& error, const QString&) {
            if (error) {
                if (m_overlayPanelController)
                    m_overlayPanelController->viewModel().setIsLoadingDetail(false);
                showError(error->message(), true);
                return;
            }
            if (m_overlayPanelController)
                m_overlayPanelController->finishDetailLoading();
        });
}

void AppDelegate::requestExplanation(
    const QString& text, bool detailed, std::function<void(const QString& accumulated)> onText,
    std::function<void(const std::optional<APIError>&, const QString&)> onEnd) {
    ExplainResult request =
        m_apiClient ? m_apiClient->explain(text, detailed) : ExplainResult(ExplanationStream::empty());
    if (!request) {
        onEnd(request.error(), QString());
        return;
    }
    // The stream belongs to the delegate while it runs, so a delegate that goes away takes it along.
    ExplanationStream* stream = request.value().release();
    stream->setParent(this);
    auto accumulated = std::make_shared<QString>();
    connect(stream, &ExplanationStream::pieceReceived, this, [accumulated, onText](const QString& piece) {
        *accumulated += piece;
        onText(*accumulated);
    });
    connect(stream, &ExplanationStream::finished, this,
            [stream, accumulated, onEnd](const std::optional<APIError>& error) {
                stream->deleteLater();
                onEnd(error, *accumulated);
            });
}

void AppDelegate::pasteFromOverlay(const QString& text) {
    // Hidden first, so that the application the user came from receives the paste.
    if (m_overlayPanelController)
        m_overlayPanelController->hide();
    QTimer::singleShot(m_dependencies.overlayPasteDelay, this, [this, text] {
        if (m_textCaptureService)
            m_textCaptureService->pasteText(text);
    });
}

void AppDelegate::toggleTranscription() {
    if (m_isTranscribing)
        stopAndTranscribe();
    else
        startTranscription();
}

void AppDelegate::startTranscription() {
    if (microphoneAccess().authorization() != MicrophoneAccess::Authorization::Authorized) {
        permissionManager().requestMicrophoneAccess([self = QPointer(this)](bool granted) {
            if (granted && self)
                self->startTranscription();
        });
        return;
    }
    if (!m_audioCaptureService || !m_audioCaptureService->startRecording()) {
        showError(QStringLiteral("Failed to start recording"), true);
        return;
    }
    m_isTranscribing = true;
    if (m_cancelShortcutService)
        m_cancelShortcutService->registerShortcut();

    const Shortcut cancel =
        shortcutOrFallback(shortcutStore().shortcuts(), ShortcutAction::cancelTranscription);
    const QString message =
        QStringLiteral("Listening... (") + displayString(cancel) + QStringLiteral(" to cancel)");
    if (m_overlayPanelController)
        m_overlayPanelController->showRecording(message);
}

void AppDelegate::stopAndTranscribe() {
    if (!m_isTranscribing)
        return;
    if (m_cancelShortcutService)
        m_cancelShortcutService->unregister();
    m_isTranscribing = false;

    const std::optional<QString> location =
        m_audioCaptureService ? m_audioCaptureService->stopRecording() : std::nullopt;
    if (!location) {
        if (m_overlayPanelController)
            m_overlayPanelController->hide();
        return;
    }
    QByteArray data;
    if (QFile file(*location); file.open(QIODevice::ReadOnly))
        data = file.readAll();
    AudioCaptureService::deleteRecording(*location);
    if (data.isEmpty()) {
        if (m_overlayPanelController)
            m_overlayPanelController->hide();
        return;
    }

    if (m_overlayPanelController) {
        ExplanationViewModel& viewModel = m_overlayPanelController->viewModel();
        viewModel.reset();
        viewModel.setState(ExplanationState::loading());
        viewModel.setLoadingMessage(QStringLiteral("Transcribing..."));
        m_overlayPanelController->showPanel();
    }

    const auto deliver = [this](const QString& text) {
        if (text.isEmpty()) {
            if (m_overlayPanelController)
                m_overlayPanelController->hide();
            return;
        }
        if (m_overlayPanelController) {
            ExplanationViewModel& viewModel = m_overlayPanelController->viewModel();
            viewModel.setMode(ViewMode::transcribe);
            viewModel.setState(ExplanationState::content(text));
            m_overlayPanelController->updatePanelSize(true);
            m_overlayPanelController->hide();
        }
        QTimer::singleShot(m_dependencies.transcriptionPasteDelay, this, [this, text] {
            if (m_textCaptureService)
                m_textCaptureService->pasteText(text);
        });
    };
    if (!m_apiClient) {
        QMetaObject::invokeMethod(
            this, [deliver] { deliver(QString()); }, Qt::QueuedConnection);
        return;
    }
    m_apiClient->transcribe(data, this, [this, deliver](const TranscriptionResult& result) {
        if (!result) {
            showError(result.error().message(), true);
            return;
        }
        deliver(result.value());
    });
}

void AppDelegate::abortTranscription() {
    if (m_cancelShortcutService)
        m_cancelShortcutService->unregister();
    if (m_isTranscribing) {
        if (m_audioCaptureService)
            m_audioCaptureService->cancelRecording();
        m_isTranscribing = false;
    }
    if (m_overlayPanelController)
        m_overlayPanelController->hide();
}

} // namespace quill
