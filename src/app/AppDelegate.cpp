#include "AppDelegate.h"

#include "StatusBarController.h"
#include "backend/AuthService.h"
#include "platform/Log.h"
#include "platform/PlatformFactory.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>

namespace quill {
namespace {

const QString component = QStringLiteral("AppDelegate");

// The store normally has an entry for every action; a missing one falls back to the default.
Shortcut shortcutOrFallback(const ShortcutMap& shortcuts, ShortcutAction action) {
    const auto it = shortcuts.find(action);
    return it != shortcuts.end() ? it->second : defaultShortcut(action);
}

} // namespace

AppDelegate::AppDelegate(QObject* parent) : AppDelegate(Dependencies{}, parent) {}

AppDelegate::AppDelegate(Dependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_dependencies(dependencies) {
    if (m_dependencies.processId == 0)
        m_dependencies.processId = QCoreApplication::applicationPid();
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

    const ShortcutMap& shortcuts = shortcutStore().shortcuts();
    StatusBarController::Callbacks callbacks;
    callbacks.explain = [self = QPointer(this)] {
        if (self)
            self->explainTriggered();
    };
    callbacks.transcribe = [self = QPointer(this)] {
        if (self)
            self->toggleTranscription();
    };
    callbacks.quit = [] { QApplication::quit(); };
    m_statusBarController =
        std::make_unique<StatusBarController>(shortcutOrFallback(shortcuts, ShortcutAction::explainSelection),
                                              shortcutOrFallback(shortcuts, ShortcutAction::transcribeOnly),
                                              std::move(callbacks), nullptr, authService());
    m_statusBarController->setupStatusItem();

    m_shortcutObserver =
        shortcutStore().subscribe(this, [self = QPointer(this)](const ShortcutMap& delivered) {
            if (self)
                self->applyShortcuts(delivered);
        });
}

void AppDelegate::setupServices() {
    const ShortcutMap& shortcuts = shortcutStore().shortcuts();
    m_explainShortcutService = std::make_unique<GlobalShortcutService>(
        shortcutOrFallback(shortcuts, ShortcutAction::explainSelection),
        [self = QPointer(this)] {
            if (self)
                self->explainTriggered();
        },
        shortcutRegistry());
    m_explainShortcutService->registerShortcut();
    m_transcribeShortcutService = std::make_unique<GlobalShortcutService>(
        shortcutOrFallback(shortcuts, ShortcutAction::transcribeOnly),
        [self = QPointer(this)] {
            if (self)
                self->toggleTranscription();
        },
        shortcutRegistry());
    m_transcribeShortcutService->registerShortcut();
    // Live only while a recording runs, so that Escape reaches the applications otherwise.
    m_cancelShortcutService = std::make_unique<GlobalShortcutService>(
        shortcutOrFallback(shortcuts, ShortcutAction::cancelTranscription),
        [self = QPointer(this)] {
            if (self)
                self->abortTranscription();
        },
        shortcutRegistry());

    std::optional<QString> error = m_explainShortcutService->registrationError();
    if (!error || error->isEmpty())
        error = m_transcribeShortcutService->registrationError();
    if (error && !error->isEmpty()) {
        QTimer::singleShot(m_dependencies.registrationErrorDelay, this,
                           [this, message = *error] { showRegistrationError(message); });
    }

    const qint64 ownProcess = m_dependencies.processId;
    connect(&activeWindowTracker(), &ActiveWindowTracker::activated, this, [this, ownProcess](qint64 pid) {
        if (pid != ownProcess)
            m_lastActiveAppPID = pid;
    });
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

void AppDelegate::explainTriggered() {
    // The trigger returns at once; the sequence runs on a later turn of the main loop.
    QMetaObject::invokeMethod(
        this,
        [self = QPointer(this)] {
            if (self)
                self->handleExplain();
        },
        Qt::QueuedConnection);
}

void AppDelegate::handleExplain() {
    logLine(component, QStringLiteral("Explain requested"));
}

void AppDelegate::toggleTranscription() {
    if (m_isTranscribing)
        stopAndTranscribe();
    else
        startTranscription();
}

void AppDelegate::startTranscription() {
    m_isTranscribing = true;
    logLine(component, QStringLiteral("Transcription started"));
}

void AppDelegate::stopAndTranscribe() {
    m_isTranscribing = false;
    logLine(component, QStringLiteral("Transcription stopped"));
}

void AppDelegate::abortTranscription() {
    m_isTranscribing = false;
    logLine(component, QStringLiteral("Transcription cancelled"));
}

void AppDelegate::showRegistrationError(const QString& message) {
    logLine(component, message);
}

} // namespace quill
