#pragma once

#include <QObject>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace quill {

// The tray icon and its menu.
class StatusBarController : public QObject {
    Q_OBJECT
public:
    struct Callbacks {
        std::function<void()> quit;
    };

    explicit StatusBarController(Callbacks callbacks, QObject* parent = nullptr);
    ~StatusBarController() override;

    void setupStatusItem();
    void buildMenu();

    QSystemTrayIcon* trayIcon() const { return m_trayIcon.get(); }
    QMenu* menu() const { return m_menu.get(); }

private:
    Callbacks m_callbacks;
    std::unique_ptr<QMenu> m_menu;
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
};

} // namespace quill
