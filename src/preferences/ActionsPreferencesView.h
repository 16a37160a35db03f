#pragma once

#include "UserAction.h"

#include <QTimer>
#include <QWidget>

class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace quill {

class ActionStore;
class ShortcutConfiguration;
class ShortcutNames;
class ShortcutRecorderView;

// The Actions tab: the user's own prompts, to add, edit, reorder, delete, turn on and off, give
// a shortcut and a result. Every change is saved to the action file at once (typing, after a
// pause); a change the file cannot take (an empty instruction, say) is shown and kept here until
// it can. While the file on disk is invalid nothing is saved, and the tab says why.
class ActionsPreferencesView : public QWidget {
    Q_OBJECT
public:
    ActionsPreferencesView(ActionStore& store, ShortcutConfiguration& shortcuts, const ShortcutNames& names,
                           QWidget* parent = nullptr);

    QListWidget* list() const { return m_list; }
    QLabel* problemLabel() const { return m_problem; }

signals:
    void shortcutRecordingChanged(bool recording);

private:
    void storeChanged();
    void showProblem(const std::optional<QString>& problem);
    void showList();
    void showSelected();
    void save();
    void edit(const std::function<void(UserAction&)>& change);
    void add();
    void removeSelected();
    void move(int by);
    std::optional<QString> shortcutUser(const Shortcut& shortcut) const;
    int selectedRow() const;

    ActionStore& m_store;
    ShortcutConfiguration& m_shortcuts;
    const ShortcutNames& m_names;
    // The list as edited here; the store's once saved.
    UserActionList m_actions;
    QLabel* m_problem;
    QListWidget* m_list;
    QPushButton* m_remove;
    QPushButton* m_up;
    QPushButton* m_down;
    QWidget* m_editor;
    QLineEdit* m_name;
    QPlainTextEdit* m_instruction;
    QComboBox* m_result;
    ShortcutRecorderView* m_recorder;
    QTimer m_typingPause;
    bool m_showing = false;
};

} // namespace quill
