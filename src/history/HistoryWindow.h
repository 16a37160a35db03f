#pragma once

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListView;
class QMessageBox;
class QPlainTextEdit;
class QPushButton;

namespace quill {

class Clipboard;
class HistoryListModel;
class HistoryStore;

// The History window: every kept result, newest first, searched as the user types over what was
// selected and what came back. Copy puts the chosen result on the clipboard; Delete and Clear All
// (after asking) remove entries. Follows the store while open.
class HistoryWindow : public QWidget {
    Q_OBJECT
public:
    HistoryWindow(HistoryStore& store, Clipboard& clipboard, QWidget* parent = nullptr);

    // Shows the window, or brings it forward, with the newest entries.
    void present();

    QLineEdit* searchField() const { return m_search; }
    QListView* list() const { return m_list; }
    HistoryListModel* model() const { return m_model; }
    QPlainTextEdit* details() const { return m_details; }

    void copySelected();
    void deleteSelected();
    // Asks first; the question is a window-modal message box that returns at once.
    void clearAll();

private:
    void refresh();
    void showResults();
    void showSelected();
    qint64 selectedId() const;

    HistoryStore& m_store;
    Clipboard& m_clipboard;
    HistoryListModel* m_model;
    QLineEdit* m_search;
    QListView* m_list;
    QPlainTextEdit* m_details;
    QLabel* m_status;
    QPushButton* m_copy;
    QPushButton* m_delete;
    QPushButton* m_clear;
    QPointer<QMessageBox> m_confirmation;
    // The entry chosen, and its row, when the list last changed.
    qint64 m_chosenId = 0;
    int m_chosenRow = 0;
};

} // namespace quill
