#pragma once

#include "shortcuts/Shortcut.h"
#include "shortcuts/ShortcutNames.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QMenu;
class QSystemTrayIcon;

namespace quill {

class AuthService;

// The tray icon, its tooltip and its menu. It knows nothing about the sequences it starts: the
// owner hands it the shortcuts, connects to the signals its items emit, and rebuilds the menu to
// keep it current.
class StatusBarController : public QObject {
    Q_OBJECT
public:
    // The tray icon: the installed symbolic icon, which reaches the tray host by name so that the
    // panel tints it for light and dark themes; else our own artwork, then the desktop theme's
    // icon of this application, then the letters "QP" drawn at runtime, so the tray never shows
    // an empty slot.
    enum class IconSource { symbolic, resource, theme, letters };
    struct Icon {
        QIcon icon;
        IconSource source;
    };
    static inline const QString iconResource = QStringLiteral(":/icons/tray.svg");
    static Icon statusIcon(const QString& resourcePath, const QString& themeName);

    // Builds whose updates come from the package manager have no update check.
    enum class UpdateCheck { offered, none };

    // Without an accessibility check the menu reports the right as missing.
    StatusBarController(Shortcut explainShortcut, Shortcut transcribeShortcut, UpdateCheck updateCheck,
                        std::function<bool()> isAccessibilityEnabled, AuthService& auth,
                        const ShortcutNames& names, QObject* parent = nullptr);
    ~StatusBarController() override;

    void setupStatusItem();
    void updateTooltip();
    // Publishes a menu built from the current shortcuts and states. Rebuilding with the same
    // content leaves the published menu untouched, so the periodic refresh costs the tray host
    // nothing while nothing changes.
    void buildMenu();

    Shortcut explainShortcut() const { return m_explainShortcut; }
    void setExplainShortcut(const Shortcut& shortcut) { m_explainShortcut = shortcut; }
    Shortcut transcribeShortcut() const { return m_transcribeShortcut; }
    void setTranscribeShortcut(const Shortcut& shortcut) { m_transcribeShortcut = shortcut; }
    // Whether there is an explanation the panel can show again; takes effect at the next build.
    void setLastAnswerAvailable(bool available) { m_lastAnswerAvailable = available; }

    // The user's enabled actions, listed below the program's own modes.
    struct MenuAction {
        QString id;
        QString name;
        std::optional<Shortcut> shortcut;
    };
    void setUserActions(QList<MenuAction> actions) { m_userActions = std::move(actions); }

    QString tooltipText() const;

    QSystemTrayIcon* trayIcon() const { return m_trayIcon.get(); }
    QMenu* menu() const { return m_menu.get(); }
    // How many times the menu content was published; stays put while nothing changes.
    int menuRevision() const { return m_menuRevision; }

signals:
    // The menu's items, each on a later turn of the main loop than the click.
    void explainRequested();
    void transcribeRequested();
    void lastAnswerRequested();
    void preferencesRequested();
    void historyRequested();
    void updateCheckRequested();
    void quitRequested();
    void accessibilityRequested();
    void userActionRequested(const QString& id);

private:
    struct Item;
    std::vector<Item> menuItems() const;
    void insertUserActions(std::vector<Item>& items) const;

    Shortcut m_explainShortcut;
    Shortcut m_transcribeShortcut;
    UpdateCheck m_updateCheck;
    bool m_lastAnswerAvailable = false;
    std::function<bool()> m_isAccessibilityEnabled;
    AuthService& m_auth;
    const ShortcutNames& m_names;
    QList<MenuAction> m_userActions;
    std::unique_ptr<QObject> m_menuActions;
    std::unique_ptr<QMenu> m_menu;
    // After the menu, so that it goes first: it refers to the menu until then.
    std::unique_ptr<QSystemTrayIcon> m_trayIcon;
    QString m_publishedSignature;
    int m_menuRevision = 0;
};

} // namespace quill
