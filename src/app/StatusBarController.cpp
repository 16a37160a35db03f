#include "StatusBarController.h"

#include "platform/Log.h"

#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>

namespace quill {

StatusBarController::StatusBarController(Callbacks callbacks, QObject* parent)
    : QObject(parent)
    , m_callbacks(std::move(callbacks)) {}

StatusBarController::~StatusBarController() = default;

void StatusBarController::setupStatusItem() {
    m_menu = std::make_unique<QMenu>();
    m_trayIcon = std::make_unique<QSystemTrayIcon>();
    QIcon icon(QStringLiteral(":/icons/tray.svg"));
    icon.setIsMask(true);
    m_trayIcon->setIcon(icon);
    m_trayIcon->setToolTip(QStringLiteral("Quillpoint"));
    buildMenu();
    m_trayIcon->setContextMenu(m_menu.get());
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        logLine(QStringLiteral("StatusBarController"),
                QStringLiteral("No system tray is running; the icon appears when one starts"));
    m_trayIcon->show();
}

void StatusBarController::buildMenu() {
    m_menu->clear();
    QAction* quit = m_menu->addAction(QStringLiteral("Quit Quillpoint"));
    quit->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));
    connect(quit, &QAction::triggered, this, [this] {
        if (m_callbacks.quit)
            m_callbacks.quit();
    });
}

} // namespace quill
