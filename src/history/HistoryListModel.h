#pragma once

#include "HistoryEntry.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

namespace quill {

class HistorySearch;
class HistoryStore;

// The history window's list: one row per entry, its kind, application and time over the first
// line of its output. Holds the ids of the entries found and reads the rows shown, a page at a
// time, so that ten thousand entries cost little more than the few on screen.
class HistoryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int idRole = Qt::UserRole;

    explicit HistoryListModel(const HistoryStore& store, QObject* parent = nullptr);

    // Lists the entries whose input or output contains `text`; all of them for an empty text.
    // All of them are listed at once; the others are looked for on another thread, and the
    // list changes when they are found. searched() follows either way.
    void search(const QString& text);
    qint64 idAt(int row) const { return row >= 0 && row < m_ids.size() ? m_ids.at(row) : 0; }
    int rowOf(qint64 id) const { return int(m_ids.indexOf(id)); }
    // None for a row that is gone from the store since the search.
    const HistoryEntry* entryAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The row's first line: kind, application, time and, for a transcript that did not reach
    // its application, that it was not pasted.
    static QString heading(const HistoryEntry& entry);

signals:
    // The list shows the answer to the latest search.
    void searched();

private:
    static constexpr int pageSize = 100;

    void show(const QList<qint64>& ids);

    const HistoryStore& m_store;
    HistorySearch* m_search;
    QList<qint64> m_ids;
    mutable QHash<qint64, HistoryEntry> m_rows;
};

} // namespace quill
