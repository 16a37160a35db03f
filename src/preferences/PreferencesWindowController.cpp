#include "PreferencesWindowController.h"

#include "PreferencesView.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

namespace quill {

PreferencesWindowController::PreferencesWindowController(
    ShortcutConfiguration& shortcutConfig, const ShortcutNames& shortcutNames,
    PreferencesManager& preferencesManager, AuthService& authService, AudioInputList& audioInputs,
    ModelCatalog& models, HistorySettings& history, QObject* parent, ActionStore* actions)
    : QObject(parent)
    , m_shortcutConfig(shortcutConfig)
    , m_shortcutNames(shortcutNames)
    , m_preferencesManager(preferencesManager)
    , m_authService(authService)
    , m_audioInputs(audioInputs)
    , m_models(models)
    , m_history(history)
    , m_actions(actions) {}

PreferencesWindowController::~PreferencesWindowController() = default;

void PreferencesWindowController::showPreferences() {
    if (!m_window) {
        m_window = std::make_unique<PreferencesView>(m_shortcutConfig, m_shortcutNames, m_preferencesManager,
                                                     m_authService, m_audioInputs, m_models, m_history,
                                                     nullptr, m_actions);
        m_window->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                 Qt::WindowCloseButtonHint);
        m_window->setWindowTitle(windowTitle());
        m_window->setFixedSize(contentWidth, contentHeight);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            m_window->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, m_window->size(),
                                                      screen->availableGeometry()));
        connect(m_window.get(), &PreferencesView::shortcutRecordingChanged, this,
                &PreferencesWindowController::shortcutRecordingChanged);
        for (const auto& [action, problem] : m_shortcutProblems)
            m_window->setShortcutProblem(action, problem);
    }
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void PreferencesWindowController::setShortcutProblem(ShortcutAction action,
                                                     const std::optional<QString>& problem) {
    if (problem)
        m_shortcutProblems[action] = *problem;
    else
        m_shortcutProblems.erase(action);
    if (m_window)
        m_window->setShortcutProblem(action, problem);
}

} // namespace quill
