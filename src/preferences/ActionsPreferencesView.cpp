#include "ActionsPreferencesView.h"

#include "ActionStore.h"
#include "PreferencesSections.h"
#include "shortcuts/ShortcutConfiguration.h"
#include "shortcuts/ShortcutNames.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

namespace quill {
namespace {

// A shortcut without modifiers stands for none: no global shortcut is one key alone.
bool isNone(const Shortcut& shortcut) {
    return (shortcut.modifiers & modifier::all) == 0;
}

} // namespace

ActionsPreferencesView::ActionsPreferencesView(ActionStore& store, ShortcutConfiguration& shortcuts,
                                               const ShortcutNames& names, QWidget* parent)
    : QWidget(parent)
    , m_store(store)
    , m_shortcuts(shortcuts)
    , m_names(names) {
    QVBoxLayout* sections = addScrollingSections(this);
    auto* section = new QGroupBox(tr("Actions"), sections->parentWidget());
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(preferencesSectionMargins);

    m_problem = new QLabel(section);
    m_problem->setObjectName(QStringLiteral("actionsProblem"));
    m_problem->setWordWrap(true);
    m_problem->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_problem);

    m_list = new QListWidget(section);
    m_list->setObjectName(QStringLiteral("actionsList"));
    m_list->setAccessibleName(tr("Actions"));
    m_list->setMinimumHeight(m_list->fontMetrics().lineSpacing() * 5);
    layout->addWidget(m_list);

    auto* buttons = new QHBoxLayout;
    auto* addButton = new QPushButton(tr("Add"), section);
    m_remove = new QPushButton(tr("Delete"), section);
    m_up = new QPushButton(tr("Move Up"), section);
    m_down = new QPushButton(tr("Move Down"), section);
    for (QPushButton* button : {addButton, m_remove, m_up, m_down})
        buttons->addWidget(button);
    buttons->addStretch();
    layout->addLayout(buttons);

    m_editor = new QWidget(section);
    auto* form = new QFormLayout(m_editor);
    form->setContentsMargins(0, 0, 0, 0);
    m_name = new QLineEdit(m_editor);
    m_name->setObjectName(QStringLiteral("actionName"));
    m_name->setMaxLength(100);
    form->addRow(tr("Name"), m_name);
    m_instruction = new QPlainTextEdit(m_editor);
    m_instruction->setObjectName(QStringLiteral("actionInstruction"));
    m_instruction->setFixedHeight(m_instruction->fontMetrics().lineSpacing() * 3 + 12);
    m_instruction->setTabChangesFocus(true);
    form->addRow(tr("Instruction"), m_instruction);
    m_result = new QComboBox(m_editor);
    m_result->setObjectName(QStringLiteral("actionResult"));
    m_result->addItem(tr("Show in the panel"), int(ActionResult::panel));
    m_result->addItem(tr("Replace the selection"), int(ActionResult::replace));
    m_result->addItem(tr("Copy to the clipboard"), int(ActionResult::copy));
    form->addRow(tr("Result"), m_result);
    ShortcutBinding binding{
        [this] {
            const int row = selectedRow();
            return row >= 0 && m_actions.at(row).shortcut ? *m_actions.at(row).shortcut : Shortcut{};
        },
        Shortcut{},
        [this](const Shortcut& shortcut) { return shortcutUser(shortcut); },
        [this](const Shortcut& shortcut) { return isNone(shortcut) ? tr("None") : m_names.text(shortcut); },
    };
    m_recorder = new ShortcutRecorderView(std::move(binding), m_editor);
    m_recorder->setObjectName(QStringLiteral("actionShortcut"));
    form->addRow(tr("Shortcut"), m_recorder);
    layout->addWidget(m_editor);

    sections->addWidget(section);
    sections->addStretch();

    m_typingPause.setSingleShot(true);
    m_typingPause.setInterval(400);
    connect(&m_typingPause, &QTimer::timeout, this, [this] {
        edit([this](UserAction& action) {
            action.name = m_name->text();
            action.instruction = m_instruction->toPlainText();
        });
    });
    connect(m_name, &QLineEdit::textEdited, &m_typingPause, qOverload<>(&QTimer::start));
    connect(m_instruction, &QPlainTextEdit::textChanged, this, [this] {
        if (!m_showing)
            m_typingPause.start();
    });
    connect(m_result, &QComboBox::activated, this, [this] {
        edit([this](UserAction& action) { action.result = ActionResult(m_result->currentData().toInt()); });
    });
    connect(m_recorder, &ShortcutRecorderView::shortcutChosen, this, [this](const Shortcut& shortcut) {
        edit([&shortcut](UserAction& action) {
            action.shortcut = isNone(shortcut) ? std::nullopt : std::optional<Shortcut>(shortcut);
        });
    });
    connect(m_recorder, &ShortcutRecorderView::recordingChanged, this,
            &ActionsPreferencesView::shortcutRecordingChanged);
    connect(m_list, &QListWidget::currentRowChanged, this, [this] {
        // Typing that has not been saved yet belongs to the action it was typed for.
        if (m_typingPause.isActive())
            m_typingPause.stop();
        showSelected();
    });
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (m_showing)
            return;
        const int row = m_list->row(item);
        if (row < 0 || row >= m_actions.size())
            return;
        m_actions[row].enabled = item->checkState() == Qt::Checked;
        save();
    });
    connect(addButton, &QPushButton::clicked, this, &ActionsPreferencesView::add);
    connect(m_remove, &QPushButton::clicked, this, &ActionsPreferencesView::removeSelected);
    connect(m_up, &QPushButton::clicked, this, [this] { move(-1); });
    connect(m_down, &QPushButton::clicked, this, [this] { move(1); });
    connect(&m_store, &ActionStore::changed, this, &ActionsPreferencesView::storeChanged);

    m_actions = m_store.actions();
    showList();
    showProblem(m_store.problem());
}

int ActionsPreferencesView::selectedRow() const {
    const int row = m_list->currentRow();
    return row >= 0 && row < m_actions.size() ? row : -1;
}

void ActionsPreferencesView::showProblem(const std::optional<QString>& problem) {
    m_problem->setText(problem.value_or(QString()));
    m_problem->setVisible(problem.has_value());
}

void ActionsPreferencesView::storeChanged() {
    showProblem(m_store.problem());
    // What was just saved from here comes back unchanged; the editor keeps its cursor.
    if (m_store.actions() == m_actions)
        return;
    m_actions = m_store.actions();
    showList();
}

void ActionsPreferencesView::showList() {
    const int row = m_list->currentRow();
    {
        // Rebuilding is not an edit: no check box or row change may reach the handlers.
        const QSignalBlocker blocker(m_list);
        m_list->clear();
        for (const UserAction& action : std::as_const(m_actions)) {
            auto* item = new QListWidgetItem(
                action.shortcut ? QStringLiteral("%1\t%2").arg(action.name, m_names.text(*action.shortcut))
                                : action.name,
                m_list);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(action.enabled ? Qt::Checked : Qt::Unchecked);
        }
    }
    m_list->setCurrentRow(std::min(std::max(row, 0), int(m_actions.size()) - 1));
    showSelected();
}

void ActionsPreferencesView::showSelected() {
    const int row = selectedRow();
    m_editor->setEnabled(row >= 0);
    m_remove->setEnabled(row >= 0);
    m_up->setEnabled(row > 0);
    m_down->setEnabled(row >= 0 && row + 1 < m_actions.size());
    const bool wasShowing = std::exchange(m_showing, true);
    const UserAction shown = row >= 0 ? m_actions.at(row) : UserAction{};
    if (m_name->text() != shown.name)
        m_name->setText(shown.name);
    if (m_instruction->toPlainText() != shown.instruction)
        m_instruction->setPlainText(shown.instruction);
    m_result->setCurrentIndex(m_result->findData(int(shown.result)));
    m_recorder->refresh();
    m_showing = wasShowing;
}

void ActionsPreferencesView::edit(const std::function<void(UserAction&)>& change) {
    const int row = selectedRow();
    if (row < 0)
        return;
    change(m_actions[row]);
    save();
}

void ActionsPreferencesView::save() {
    const std::optional<QString> error = m_store.save(m_actions);
    showProblem(error ? error : m_store.problem());
    // The list shows names and shortcuts as edited, saved or not.
    const int row = selectedRow();
    if (row >= 0 && m_list->item(row)) {
        const UserAction& action = m_actions.at(row);
        const QSignalBlocker blocker(m_list);
        m_list->item(row)->setText(
            action.shortcut ? QStringLiteral("%1\t%2").arg(action.name, m_names.text(*action.shortcut))
                            : action.name);
    }
    m_recorder->refresh();
}

void ActionsPreferencesView::add() {
    UserAction action;
    int number = 1;
    const auto taken = [this](const QString& id) {
        return std::any_of(m_actions.cbegin(), m_actions.cend(),
                           [&id](const UserAction& a) { return a.id == id; });
    };
    while (taken(QStringLiteral("action-%1").arg(number)))
        ++number;
    action.id = QStringLiteral("action-%1").arg(number);
    action.name = tr("New action");
    action.enabled = true;
    m_actions.append(action);
    showList();
    m_list->setCurrentRow(int(m_actions.size()) - 1);
    m_instruction->setFocus();
    save();
}

void ActionsPreferencesView::removeSelected() {
    const int row = selectedRow();
    if (row < 0)
        return;
    m_actions.removeAt(row);
    showList();
    save();
}

void ActionsPreferencesView::move(int by) {
    const int row = selectedRow();
    const int to = row + by;
    if (row < 0 || to < 0 || to >= m_actions.size())
        return;
    m_actions.move(row, to);
    showList();
    m_list->setCurrentRow(to);
    save();
}

std::optional<QString> ActionsPreferencesView::shortcutUser(const Shortcut& shortcut) const {
    if (isNone(shortcut))
        return std::nullopt;
    const std::pair<ShortcutAction, const char*> builtIns[] = {
        {ShortcutAction::explainSelection, QT_TR_NOOP("Explainer Mode")},
        {ShortcutAction::transcribeOnly, QT_TR_NOOP("Transcribe Mode")},
        {ShortcutAction::cancelTranscription, QT_TR_NOOP("Cancel Recording")},
    };
    for (const auto& [action, label] : builtIns) {
        if (m_shortcuts.shortcut(action) == shortcut)
            return tr(label);
    }
    const int row = selectedRow();
    for (int i = 0; i < m_actions.size(); ++i) {
        if (i != row && m_actions.at(i).shortcut == shortcut)
            return m_actions.at(i).name;
    }
    return std::nullopt;
}

} // namespace quill
