#include "GeneralPreferencesView.h"

#include "PreferencesManager.h"
#include "PreferencesSections.h"
#include "shortcuts/ShortcutConfiguration.h"
#include "shortcuts/ShortcutNames.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace quill {
namespace {

struct ShortcutRow {
    const char* label;
    ShortcutAction action;
};

constexpr std::array<ShortcutRow, 3> shortcutRows = {{
    {QT_TRANSLATE_NOOP("quill::GeneralPreferencesView", "Explainer Mode"), ShortcutAction::explainSelection},
    {QT_TRANSLATE_NOOP("quill::GeneralPreferencesView", "Transcribe Mode"), ShortcutAction::transcribeOnly},
    {QT_TRANSLATE_NOOP("quill::GeneralPreferencesView", "Cancel Recording"),
     ShortcutAction::cancelTranscription},
}};

} // namespace

GeneralPreferencesView::GeneralPreferencesView(ShortcutConfiguration& shortcutConfig,
                                               const ShortcutNames& shortcutNames,
                                               PreferencesManager& preferencesManager, QWidget* parent)
    : QWidget(parent)
    , m_shortcutConfig(shortcutConfig)
    , m_shortcutNames(shortcutNames)
    , m_preferencesManager(preferencesManager) {
    QVBoxLayout* sections = addScrollingSections(this);
    sections->addWidget(buildShortcutsSection(sections->parentWidget()));
    sections->addWidget(buildStartupSection(sections->parentWidget()));
    sections->addWidget(buildModelSection(sections->parentWidget()));
    sections->addStretch();

    connect(&m_shortcutConfig, &ShortcutConfiguration::shortcutsChanged, this, [this] {
        for (const auto& [action, recorder] : m_recorders)
            recorder->refresh();
    });
    connect(&m_preferencesManager, &PreferencesManager::launchAtLoginChanged, this,
            &GeneralPreferencesView::showLaunchAtLogin);
    connect(&m_preferencesManager, &PreferencesManager::selectedModelChanged, this,
            &GeneralPreferencesView::showSelectedModel);
}

QWidget* GeneralPreferencesView::buildShortcutsSection(QWidget* parent) {
    auto* section = new QGroupBox(tr("Keyboard Shortcuts"), parent);
    auto* grid = new QGridLayout(section);
    grid->setContentsMargins(preferencesSectionMargins);
    grid->setVerticalSpacing(2);
    grid->setColumnStretch(1, 1);
    int row = 0;
    for (const ShortcutRow& entry : shortcutRows) {
        const ShortcutAction action = entry.action;
        ShortcutBinding binding{
            [this, action] { return m_shortcutConfig.shortcut(action); },
            defaultShortcut(action),
            [this, action](const Shortcut& shortcut) -> std::optional<QString> {
                for (const ShortcutRow& other : shortcutRows) {
                    if (other.action != action && m_shortcutConfig.shortcut(other.action) == shortcut)
                        return tr(other.label);
                }
                return std::nullopt;
            },
            [this](const Shortcut& shortcut) { return m_shortcutNames.text(shortcut); },
        };
        auto* recorder = new ShortcutRecorderView(std::move(binding), section);
        recorder->setObjectName(rawValue(action));
        auto* label = new QLabel(tr(entry.label), section);
        label->setBuddy(recorder);
        // The label stays level with the button when the refusal text opens below it.
        label->setMinimumHeight(recorder->sizeHint().height());
        grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
        grid->addWidget(recorder, row, 2, Qt::AlignRight);
        connect(recorder, &ShortcutRecorderView::shortcutChosen, this,
                [this, action](const Shortcut& shortcut) {
                    m_shortcutConfig.setShortcut(action, shortcut);
                    m_shortcutConfig.saveShortcut(shortcut, action);
                });
        connect(recorder, &ShortcutRecorderView::recordingChanged, this,
                &GeneralPreferencesView::recorderRecordingChanged);
        m_recorders[action] = recorder;
        ++row;
    }
    return section;
}

QWidget* GeneralPreferencesView::buildStartupSection(QWidget* parent) {
    auto* section = new QGroupBox(tr("Startup"), parent);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(preferencesSectionMargins);
    m_launchAtLogin = new QCheckBox(tr("Launch at Login"), section);
    m_launchAtLogin->setChecked(m_preferencesManager.launchAtLogin());
    connect(m_launchAtLogin, &QCheckBox::toggled, &m_preferencesManager,
            &PreferencesManager::setLaunchAtLogin);
    layout->addWidget(m_launchAtLogin);
    return section;
}

QWidget* GeneralPreferencesView::buildModelSection(QWidget* parent) {
    auto* section = new QGroupBox(tr("Model"), parent);
    auto* layout = new QHBoxLayout(section);
    layout->setContentsMargins(preferencesSectionMargins);
    auto* label = new QLabel(tr("AI Model"), section);
    layout->addWidget(label);
    layout->addStretch();
    auto* choices = new QHBoxLayout;
    choices->setSpacing(12);
    m_models = new QButtonGroup(section);
    for (const ModelChoice& model : availableModels) {
        auto* button = new QRadioButton(QString::fromLatin1(model.label), section);
        button->setProperty("modelIdentifier", QString::fromLatin1(model.identifier));
        m_models->addButton(button);
        choices->addWidget(button);
    }
    layout->addLayout(choices);
    showSelectedModel(m_preferencesManager.selectedModel());
    connect(m_models, &QButtonGroup::buttonToggled, this, [this](QAbstractButton* button, bool checked) {
        const QString identifier = button->property("modelIdentifier").toString();
        if (checked && identifier != m_preferencesManager.selectedModel())
            m_preferencesManager.setSelectedModel(identifier);
    });
    return section;
}

void GeneralPreferencesView::showLaunchAtLogin(bool enabled) {
    const QSignalBlocker blocker(m_launchAtLogin);
    m_launchAtLogin->setChecked(enabled);
}

void GeneralPreferencesView::showSelectedModel(const QString& identifier) {
    // A stored identifier that is not offered here leaves every choice unchecked.
    const QSignalBlocker groupBlocker(m_models);
    m_models->setExclusive(false);
    for (QAbstractButton* button : m_models->buttons()) {
        const QSignalBlocker blocker(button);
        button->setChecked(button->property("modelIdentifier").toString() == identifier);
    }
    m_models->setExclusive(true);
}

void GeneralPreferencesView::recorderRecordingChanged(bool recording) {
    const bool wasRecording = m_recordingCount > 0;
    m_recordingCount += recording ? 1 : -1;
    if ((m_recordingCount > 0) != wasRecording)
        emit shortcutRecordingChanged(m_recordingCount > 0);
}

void GeneralPreferencesView::setShortcutProblem(ShortcutAction action,
                                                const std::optional<QString>& problem) {
    if (const auto it = m_recorders.find(action); it != m_recorders.end())
        it->second->setError(problem);
}

} // namespace quill
