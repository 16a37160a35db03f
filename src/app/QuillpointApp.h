#pragma once

#include "CommandLine.h"

#include <QApplication>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace quill {

class AppDelegate;
class ApplicationBusObject;
class InstanceGuard;
class Services;
class TerminationSignals;

// The program's entry type: a tray program with no main window that keeps running when its
// last window closes. Builds the composition root and the delegate once it holds the instance
// lock.
class QuillpointApp : public QApplication {
    Q_OBJECT
public:
    QuillpointApp(int& argc, char** argv);
    ~QuillpointApp() override;

    // Runs the event loop. When another copy holds the instance lock, hands it `action` and
    // returns 0, or returns 1 at once without one. Otherwise `action` is performed once the
    // launch has run.
    // `actionId` names the user's action for RemoteAction::action; one that cannot run ends the
    // process with status 2.
    int run(std::optional<RemoteAction> action = std::nullopt, const QString& actionId = {});

    // For when this process cannot start (no display): hands `action` to a running copy and
    // returns the exit status; answers 0 at once for an action that needs no running copy
    // (quit, cancel). Needs only a QCoreApplication. None when nothing runs to take `action`.
    static std::optional<int> forwardOnly(std::optional<RemoteAction> action, const QString& actionId = {});

    AppDelegate* appDelegate() const { return m_appDelegate.get(); }

private:
    std::unique_ptr<InstanceGuard> m_instanceGuard;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    // Before the delegate, which uses it until it is gone.
    std::unique_ptr<Services> m_services;
    std::unique_ptr<AppDelegate> m_appDelegate;
    // After the delegate, so that no call reaches it once it is gone.
    std::unique_ptr<ApplicationBusObject> m_busObject;
    bool m_launched = false;
    std::vector<RemoteAction> m_pendingActions;
    QStringList m_pendingUserActions;
};

} // namespace quill
