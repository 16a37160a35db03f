#pragma once

#include "HistoryEntry.h"

#include <QAbstractListModel>
#include <QList>

namespace quill {

// The history window's list: one row per entry, its kind, application and time over the first
// line of its output.
class HistoryListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int idRole = Qt::UserRole;

    using QAbstractListModel::QAbstractListModel;

    void setEntries(QList<HistoryEntry> entries);
    const HistoryEntry* entryAt(int row) const;
    int rowOf(qint64 id) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // The row's first line: kind, application, time and, for a transcript that did not reach
    // its application, that it was not pasted.
    static QString heading(const HistoryEntry& entry);

private:
    QList<HistoryEntry> m_entries;
};

} // namespace quill
