#pragma once

#include <QObject>
#include <memory>

namespace quill {

class StatusBarController;

// Owns every long-lived component, wires their callbacks and runs the launch sequence.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    void applicationDidFinishLaunching();
    void applicationWillTerminate();

    StatusBarController* statusBarController() const { return m_statusBarController.get(); }

private:
    void setupApplication();
    void setupServices();

    std::unique_ptr<StatusBarController> m_statusBarController;
};

} // namespace quill
