#include "GeneralPreferencesView.h"

#include "PreferencesManager.h"
#include "PreferencesSections.h"
#include "backend/ModelCatalog.h"
#include "shortcuts/ShortcutConfiguration.h"
#include "shortcuts/ShortcutNames.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
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
                                               PreferencesManager& preferencesManager, ModelCatalog& models,
                                               QWidget* parent)
    : QWidget(parent)
    , m_shortcutConfig(shortcutConfig)
    , m_shortcutNames(shortcutNames)
    , m_preferencesManager(preferencesManager)
    , m_modelCatalog(models) {
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
            &GeneralPreferencesView::showModels);
    connect(&m_modelCatalog, &ModelCatalog::modelsChanged, this, &GeneralPreferencesView::showModels);
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
                return m_otherShortcutUser ? m_otherShortcutUser(shortcut) : std::nullopt;
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
    if (const QString note = m_preferencesManager.shortcutSettingsNote(); !note.isEmpty()) {
        auto* label = new QLabel(note, section);
        label->setObjectName(QStringLiteral("shortcutSettingsNote"));
        label->setWordWrap(true);
        label->setForegroundRole(QPalette::PlaceholderText);
        grid->addWidget(label, row, 0, 1, 3);
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
    auto* grid = new QGridLayout(section);
    grid->setContentsMargins(preferencesSectionMargins);
    grid->setColumnStretch(1, 1);
    m_models = new QComboBox(section);
    m_models->setObjectName(QStringLiteral("model"));
    m_models->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_models->setMinimumContentsLength(16);
    auto* label = new QLabel(tr("AI Model"), section);
    label->setBuddy(m_models);
    grid->addWidget(label, 0, 0);
    grid->addWidget(m_models, 0, 2);
    m_modelNotice = new QLabel(section);
    m_modelNotice->setObjectName(QStringLiteral("modelNotice"));
    m_modelNotice->setWordWrap(true);
    m_modelNotice->setTextFormat(Qt::PlainText);
    grid->addWidget(m_modelNotice, 1, 0, 1, 3);
    showModels();
    connect(m_models, &QComboBox::activated, this, [this](int index) {
        m_preferencesManager.setSelectedModel(m_models->itemData(index).toString());
    });
    return section;
}

void GeneralPreferencesView::showLaunchAtLogin(bool enabled) {
    const QSignalBlocker blocker(m_launchAtLogin);
    m_launchAtLogin->setChecked(enabled);
}

void GeneralPreferencesView::showModels() {
    const QSignalBlocker blocker(m_models);
    m_models->clear();
    for (const ModelInfo& model : m_modelCatalog.models()) {
        m_models->addItem(model.name, model.id);
        if (model.local)
            m_models->setItemData(m_models->count() - 1,
                                  tr("Runs on this computer: your text does not leave it."), Qt::ToolTipRole);
    }
    // A stored identifier that is offered nowhere leaves the choice empty; it is still sent.
    m_models->setCurrentIndex(m_models->findData(m_modelCatalog.effectiveModel()));

    QString notice;
    if (m_modelCatalog.choiceUnavailable()) {
        const QString chosen = m_preferencesManager.selectedModel();
        notice = tr("The backend no longer offers %1. Quillpoint uses %2 until you choose a model.")
                     .arg(m_modelCatalog.displayName(chosen),
                          m_modelCatalog.displayName(m_modelCatalog.effectiveModel()));
    } else if (m_modelCatalog.source() == ModelCatalog::Source::backendWithoutModels) {
        notice = tr("The backend has no model to answer with. Run Ollama or llama.cpp on this computer, "
                    "or give the backend an upstream service.");
    }
    m_modelNotice->setText(notice);
    m_modelNotice->setVisible(!notice.isEmpty());
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
