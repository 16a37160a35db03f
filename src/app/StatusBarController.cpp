#include "StatusBarController.h"

#include "backend/AuthService.h"
#include "platform/AppInfo.h"
#include "platform/Log.h"
#include "shortcuts/KeyCodes.h"

#include <QAction>
#include <QFont>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace quill {

struct StatusBarController::Item {
    QString title;
    void (StatusBarController::*action)() = nullptr;
    QKeySequence keys;
    bool separator = false;
    // For the user's own actions, which share one signal.
    QString userActionId = {};
};

namespace {

const QString logTag = QStringLiteral("StatusBarController");

// The tray menu only displays a shortcut; the global shortcut service owns the key press. A
// key without a Qt equivalent still shows "?" so the user sees that something is bound.
QKeySequence menuKeys(const ShortcutNames& names, const Shortcut& shortcut) {
    const QKeySequence keys = names.keySequence(shortcut);
    if (!keys.isEmpty())
        return keys;
    return QKeySequence(QKeyCombination(qtModifiers(shortcut.modifiers), Qt::Key_Question));
}

QIcon lettersIcon() {
    QPixmap pixmap(44, 44);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QFont font = painter.font();
    font.setPixelSize(22);
    font.setWeight(QFont::Medium);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("QP"));
    painter.end();
    QIcon icon(pixmap);
    icon.setIsMask(true);
    return icon;
}

} // namespace

StatusBarController::StatusBarController(Shortcut explainShortcut, Shortcut transcribeShortcut,
                                         UpdateCheck updateCheck,
                                         std::function<bool()> isAccessibilityEnabled, AuthService& auth,
                                         const ShortcutNames& names, QObject* parent)
    : QObject(parent)
    , m_explainShortcut(explainShortcut)
    , m_transcribeShortcut(transcribeShortcut)
    , m_updateCheck(updateCheck)
    , m_isAccessibilityEnabled(std::move(isAccessibilityEnabled))
    , m_auth(auth)
    , m_names(names) {}

StatusBarController::~StatusBarController() = default;

StatusBarController::Icon StatusBarController::statusIcon(const QString& resourcePath,
                                                          const QString& themeName) {
    const QIcon symbolic = QIcon::fromTheme(themeName + QStringLiteral("-symbolic"));
    if (!symbolic.isNull() && !symbolic.pixmap(22).isNull())
        return {symbolic, IconSource::symbolic};
    // An SVG resource loads only when the SVG image plugin is installed; render it to be sure.
    QIcon artwork(resourcePath);
    if (!artwork.pixmap(22).isNull()) {
        artwork.setIsMask(true);
        return {artwork, IconSource::resource};
    }
    const QIcon themed = QIcon::fromTheme(themeName);
    if (!themed.isNull() && !themed.pixmap(22).isNull())
        return {themed, IconSource::theme};
    return {lettersIcon(), IconSource::letters};
}

void StatusBarController::setupStatusItem() {
    m_trayIcon = std::make_unique<QSystemTrayIcon>();
    const Icon icon = statusIcon(iconResource, bundleIdentifier());
    if (icon.source != IconSource::symbolic && icon.source != IconSource::resource)
        logLine(lcApp(), logTag,
                QStringLiteral("The tray artwork could not be loaded; using a fallback icon"));
    m_trayIcon->setIcon(icon.icon);
    updateTooltip();
    buildMenu();
    m_trayIcon->setContextMenu(m_menu.get());
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        logLine(lcApp(), logTag,
                QStringLiteral("No system tray is running; the icon appears when one starts"));
    m_trayIcon->show();
}

QString StatusBarController::tooltipText() const {
    return tr("Quillpoint - %1 Explain | %2 Transcribe")
        .arg(m_names.text(m_explainShortcut), m_names.text(m_transcribeShortcut));
}

void StatusBarController::updateTooltip() {
    if (m_trayIcon)
        m_trayIcon->setToolTip(tooltipText());
}

std::vector<StatusBarController::Item> StatusBarController::menuItems() const {
    const Item separator{{}, nullptr, {}, true};
    const bool trusted = m_isAccessibilityEnabled && m_isAccessibilityEnabled();
    const bool signedIn = m_auth.isAuthenticated();
    std::vector<Item> items = {
        {tr("Quillpoint"), nullptr, {}},
        separator,
        {tr("Explainer Mode"), &StatusBarController::explainRequested, menuKeys(m_names, m_explainShortcut)},
        {tr("Transcribe Mode"), &StatusBarController::transcribeRequested,
         menuKeys(m_names, m_transcribeShortcut)},
        {tr("Show Last Answer"),
         m_lastAnswerAvailable ? &StatusBarController::lastAnswerRequested : nullptr,
         {}},
        separator,
        trusted ? Item{tr("✓ Accessibility Enabled"), nullptr, {}}
                : Item{tr("⚠ Accessibility Required"), &StatusBarController::accessibilityRequested, {}},
        signedIn ? Item{tr("✓ Signed In"), nullptr, {}}
                 : Item{tr("⚠ Sign In Required"), &StatusBarController::preferencesRequested, {}},
        separator,
        {tr("History..."), &StatusBarController::historyRequested, {}},
        {tr("Preferences..."), &StatusBarController::preferencesRequested,
         QKeySequence(Qt::CTRL | Qt::Key_Comma)},
        separator,
        {tr("Quit Quillpoint"), &StatusBarController::quitRequested, QKeySequence(Qt::CTRL | Qt::Key_Q)},
    };
    insertUserActions(items);
    if (m_updateCheck == UpdateCheck::offered)
        items.insert(items.end() - 2,
                     {tr("Check for Updates..."), &StatusBarController::updateCheckRequested, {}});
    return items;
}

void StatusBarController::insertUserActions(std::vector<Item>& items) const {
    // After Explainer Mode and Transcribe Mode, before their separator.
    auto at = items.begin() + 4;
    for (const MenuAction& action : m_userActions) {
        Item item{action.name, nullptr,
                  action.shortcut ? menuKeys(m_names, *action.shortcut) : QKeySequence()};
        item.userActionId = action.id;
        at = items.insert(at, item) + 1;
    }
}

void StatusBarController::buildMenu() {
    const std::vector<Item> items = menuItems();
    QString signature;
    for (const Item& item : items) {
        signature += item.separator
                         ? QStringLiteral("-")
                         : item.title + u'\t' + (item.action ? u'1' : u'0') + u'\t' +
                               item.keys.toString(QKeySequence::PortableText) + u'\t' + item.userActionId;
        signature += u'\n';
    }
    if (m_menu && signature == m_publishedSignature)
        return;

    if (!m_menu)
        m_menu = std::make_unique<QMenu>();
    auto actions = std::make_unique<QObject>();
    QList<QAction*> list;
    for (const Item& item : items) {
        auto* action = new QAction(item.title, actions.get());
        action->setSeparator(item.separator);
        action->setShortcut(item.keys);
        // Shown only: the global shortcut service takes these keys before any window sees them.
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setEnabled(item.action != nullptr || !item.userActionId.isEmpty());
        if (item.action) {
            // Queued, because a receiver may open a dialog whose event loop runs the periodic
            // rebuild, which must be free to replace the action that is still being triggered.
            connect(action, &QAction::triggered, this, item.action, Qt::QueuedConnection);
        }
        if (!item.userActionId.isEmpty()) {
            connect(
                action, &QAction::triggered, this,
                [this, id = item.userActionId] { emit userActionRequested(id); }, Qt::QueuedConnection);
        }
        list << action;
    }
    m_menu->clear();
    m_menuActions = std::move(actions);
    m_menu->addActions(list);
    m_publishedSignature = signature;
    ++m_menuRevision;
}

} // namespace quill
