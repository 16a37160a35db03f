#pragma once

#include <QApplication>
#include <memory>

namespace quill {

class AppDelegate;
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

    // Runs the event loop; returns at once with a non-zero code when another copy runs.
    int run();

    AppDelegate* appDelegate() const { return m_appDelegate.get(); }

private:
    std::unique_ptr<InstanceGuard> m_instanceGuard;
    std::unique_ptr<TerminationSignals> m_terminationSignals;
    // Before the delegate, which uses it until it is gone.
    std::unique_ptr<Services> m_services;
    std::unique_ptr<AppDelegate> m_appDelegate;
};

} // namespace quill
