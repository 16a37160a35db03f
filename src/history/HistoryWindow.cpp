#include "HistoryWindow.h"

#include "HistoryListModel.h"
#include "HistoryStore.h"
#include "platform/Clipboard.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

namespace quill {

HistoryWindow::HistoryWindow(HistoryStore& store, Clipboard& clipboard, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_store(store)
    , m_clipboard(clipboard)
    , m_model(new HistoryListModel(store, this)) {
    setWindowTitle(tr("History"));
    setObjectName(QStringLiteral("history"));
    resize(640, 520);

    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("historySearch"));
    m_search->setPlaceholderText(tr("Search"));
    m_search->setAccessibleName(tr("Search"));
    m_search->setClearButtonEnabled(true);

    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("historyList"));
    m_list->setAccessibleName(tr("History"));
    // Every row is two lines: the view need not measure ten thousand of them.
    m_list->setUniformItemSizes(true);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setModel(m_model);

    m_details = new QPlainTextEdit(this);
    m_details->setObjectName(QStringLiteral("historyDetails"));
    m_details->setAccessibleName(tr("Entry"));
    m_details->setReadOnly(true);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(m_list);
    splitter->addWidget(m_details);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    m_copy = new QPushButton(tr("Copy"), this);
    m_delete = new QPushButton(tr("Delete"), this);
    m_clear = new QPushButton(tr("Clear All..."), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_status, 1);
    buttons->addWidget(m_copy);
    buttons->addWidget(m_delete);
    buttons->addWidget(m_clear);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_search);
    layout->addWidget(splitter, 1);
    layout->addLayout(buttons);

    connect(m_search, &QLineEdit::textChanged, this, &HistoryWindow::refresh);
    connect(m_model, &HistoryListModel::modelAboutToBeReset, this, [this] {
        m_chosenId = selectedId();
        m_chosenRow = m_list->currentIndex().row();
    });
    connect(m_model, &HistoryListModel::searched, this, &HistoryWindow::showResults);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &HistoryWindow::showSelected);
    connect(m_copy, &QPushButton::clicked, this, &HistoryWindow::copySelected);
    connect(m_delete, &QPushButton::clicked, this, &HistoryWindow::deleteSelected);
    connect(m_clear, &QPushButton::clicked, this, &HistoryWindow::clearAll);
    connect(&m_store, &HistoryStore::changed, this, [this] {
        if (isVisible())
            refresh();
    });
    refresh();
}

void HistoryWindow::present() {
    refresh();
    show();
    raise();
    activateWindow();
    m_search->setFocus();
}

qint64 HistoryWindow::selectedId() const {
    return m_model->idAt(m_list->currentIndex().row());
}

void HistoryWindow::refresh() {
    m_model->search(m_search->text());
}

void HistoryWindow::showResults() {
    const int rows = m_model->rowCount();
    int row = m_model->rowOf(m_chosenId);
    // A deleted entry's place goes to the next older one; otherwise the newest is chosen.
    if (row < 0)
        row = m_chosenId && !m_store.entry(m_chosenId) ? std::min(m_chosenRow, rows - 1) : 0;
    if (rows > 0)
        m_list->setCurrentIndex(m_model->index(std::max(row, 0)));
    if (m_store.error())
        m_status->setText(*m_store.error());
    else if (rows == 0)
        m_status->setText(m_search->text().isEmpty() ? tr("No entries yet") : tr("Nothing found"));
    else
        m_status->clear();
    m_clear->setEnabled(rows > 0 || (!m_search->text().isEmpty() && m_store.count() > 0));
    showSelected();
}

void HistoryWindow::showSelected() {
    const qint64 id = selectedId();
    const std::optional<HistoryEntry> entry = id ? m_store.entry(id) : std::nullopt;
    m_copy->setEnabled(entry.has_value());
    m_delete->setEnabled(entry.has_value());
    if (!entry) {
        m_details->clear();
        return;
    }
    QString text = HistoryListModel::heading(*entry) + QStringLiteral("\n\n") + entry->output;
    if (!entry->input.isEmpty())
        text += QStringLiteral("\n\n\u2014 ") + tr("Selected text:") + u'\n' + entry->input;
    m_details->setPlainText(text);
}

void HistoryWindow::copySelected() {
    if (const std::optional<HistoryEntry> entry = m_store.entry(selectedId()))
        m_clipboard.setText(entry->output);
}

void HistoryWindow::deleteSelected() {
    const qint64 id = selectedId();
    if (id && m_store.remove(id))
        refresh();
}

void HistoryWindow::clearAll() {
    if (m_confirmation)
        return;
    m_confirmation = new QMessageBox(QMessageBox::Warning, tr("Clear History"),
                                     tr("Delete every entry of the history? This cannot be undone."),
                                     QMessageBox::Cancel, this);
    m_confirmation->setObjectName(QStringLiteral("historyClearConfirmation"));
    QPushButton* confirm = m_confirmation->addButton(tr("Delete All"), QMessageBox::DestructiveRole);
    m_confirmation->setDefaultButton(QMessageBox::Cancel);
    m_confirmation->setAttribute(Qt::WA_DeleteOnClose);
    m_confirmation->setWindowModality(Qt::WindowModal);
    connect(m_confirmation, &QMessageBox::buttonClicked, this, [this, confirm](QAbstractButton* button) {
        if (button == confirm) {
            m_store.clear();
            refresh();
        }
    });
    m_confirmation->open();
}

} // namespace quill
