#pragma once

#include "shortcuts/ShortcutConfiguration.h"

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace quill {

class ActiveWindowTracker;
class AuthService;
class GlobalShortcutService;
class ShortcutRegistry;
class StatusBarController;

// Owns every long-lived component, wires their callbacks and runs the launch sequence.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    // What the delegate works with. An empty pointer stands for the process-wide object, taken
    // when it is first needed, so that launch creates the shared objects in its own order.
    struct Dependencies {
        ShortcutConfiguration* shortcutStore = nullptr;
        ShortcutRegistry* shortcutRegistry = nullptr;
        ActiveWindowTracker* activeWindowTracker = nullptr;
        AuthService* authService = nullptr;
        qint64 processId = 0; // 0: this process
        std::chrono::milliseconds registrationErrorDelay{1500};
    };

    explicit AppDelegate(QObject* parent = nullptr);
    explicit AppDelegate(Dependencies dependencies, QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    // The shortcut observer: brings the services and the status menu in step with a dictionary
    // the shortcut store delivered. Actions without an entry are left alone.
    void applyShortcuts(const ShortcutMap& shortcuts);

    void handleExplain();
    void toggleTranscription();
    void startTranscription();
    void stopAndTranscribe();
    void abortTranscription();
    void showRegistrationError(const QString& message);

    StatusBarController* statusBarController() const { return m_statusBarController.get(); }
    GlobalShortcutService* explainShortcutService() const { return m_explainShortcutService.get(); }
    GlobalShortcutService* transcribeShortcutService() const { return m_transcribeShortcutService.get(); }
    GlobalShortcutService* cancelShortcutService() const { return m_cancelShortcutService.get(); }
    std::optional<qint64> lastActiveAppPID() const { return m_lastActiveAppPID; }
    bool isTranscribing() const { return m_isTranscribing; }

private:
    void setupApplication();
    void setupServices();
    void explainTriggered();
    ShortcutConfiguration& shortcutStore() const;
    ShortcutRegistry& shortcutRegistry() const;
    ActiveWindowTracker& activeWindowTracker() const;
    AuthService& authService() const;

    Dependencies m_dependencies;

    std::unique_ptr<StatusBarController> m_statusBarController;
    std::unique_ptr<GlobalShortcutService> m_explainShortcutService;
    std::unique_ptr<GlobalShortcutService> m_transcribeShortcutService;
    std::unique_ptr<GlobalShortcutService> m_cancelShortcutService;
    std::optional<qint64> m_lastActiveAppPID;
    std::unique_ptr<ShortcutSubscription> m_shortcutObserver;
    bool m_isTranscribing = false;
};

} // namespace quill
