#include "PreferencesView.h"

#include "AccountPreferencesView.h"
#include "ActionStore.h"
#include "ActionsPreferencesView.h"
#include "GeneralPreferencesView.h"
#include "HistoryPreferencesView.h"
#include "TranscriptionPreferencesView.h"

#include <QIcon>
#include <QTabWidget>
#include <QVBoxLayout>

namespace quill {

PreferencesView::PreferencesView(ShortcutConfiguration& shortcutConfig, const ShortcutNames& shortcutNames,
                                 PreferencesManager& preferencesManager, AuthService& authService,
                                 AudioInputList& audioInputs, ModelCatalog& models, HistorySettings& history,
                                 QWidget* parent, ActionStore* actions)
    : QWidget(parent) {
    auto* general = new GeneralPreferencesView(shortcutConfig, shortcutNames, preferencesManager, models);
    m_general = general;
    connect(general, &GeneralPreferencesView::shortcutRecordingChanged, this,
            &PreferencesView::shortcutRecordingChanged);

    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    m_tabs->addTab(general, QIcon(QStringLiteral(":/preferences/icons/gear.svg")), tr("General"));
    m_tabs->addTab(new AccountPreferencesView(authService),
                   QIcon(QStringLiteral(":/preferences/icons/person-circle.svg")), tr("Account"));
    m_tabs->addTab(new TranscriptionPreferencesView(preferencesManager, audioInputs),
                   QIcon(QStringLiteral(":/preferences/icons/microphone.svg")), tr("Transcription"));
    m_tabs->addTab(new HistoryPreferencesView(history),
                   QIcon(QStringLiteral(":/preferences/icons/clock.svg")), tr("History"));
    if (actions) {
        general->setOtherShortcutUser([actions](const Shortcut& shortcut) -> std::optional<QString> {
            for (const UserAction& action : actions->actions()) {
                if (action.enabled && action.shortcut == shortcut)
                    return action.name;
            }
            return std::nullopt;
        });
        auto* view = new ActionsPreferencesView(*actions, shortcutConfig, shortcutNames);
        connect(view, &ActionsPreferencesView::shortcutRecordingChanged, this,
                &PreferencesView::shortcutRecordingChanged);
        m_tabs->addTab(view, QIcon(QStringLiteral(":/preferences/icons/gear.svg")), tr("Actions"));
    }

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_tabs);
}

void PreferencesView::setShortcutProblem(ShortcutAction action, const std::optional<QString>& problem) {
    m_general->setShortcutProblem(action, problem);
}

} // namespace quill
