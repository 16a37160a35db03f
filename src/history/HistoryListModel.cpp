#include "HistoryListModel.h"

#include "HistorySearch.h"
#include "HistoryStore.h"

#include <QLocale>

namespace quill {
namespace {

constexpr int previewLineLength = 120;

QString firstLine(const QString& text) {
    QString line = text.simplified();
    if (line.size() > previewLineLength)
        line = line.left(previewLineLength - 1) + u'\u2026';
    return line;
}

QString timeText(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    const QLocale locale;
    if (local.date() == QDate::currentDate())
        return locale.toString(local.time(), QLocale::ShortFormat);
    return locale.toString(local, QLocale::ShortFormat);
}

} // namespace

QString HistoryListModel::heading(const HistoryEntry& entry) {
    QString kind;
    switch (entry.kind) {
    case HistoryKind::explanation:
        kind = tr("Explanation");
        break;
    case HistoryKind::actionResult:
        kind = entry.action.isEmpty() ? tr("Action") : entry.action;
        break;
    case HistoryKind::transcript:
        kind = tr("Transcript (%1 s)").arg(QLocale().toString(entry.seconds, 'f', 0));
        break;
    }
    QStringList parts{kind};
    if (!entry.application.isEmpty())
        parts.append(entry.application);
    parts.append(timeText(entry.time));
    if (entry.pasted == false)
        parts.append(tr("Not pasted"));
    return parts.join(QStringLiteral(" \u00b7 "));
}

HistoryListModel::HistoryListModel(const HistoryStore& store, QObject* parent)
    : QAbstractListModel(parent)
    , m_store(store)
    , m_search(new HistorySearch(store.path(), this)) {
    connect(m_search, &HistorySearch::found, this, &HistoryListModel::show);
}

void HistoryListModel::search(const QString& text) {
    // Listing every entry reads only ids and takes a few milliseconds, so the window opens with
    // its list; looking through the texts may take many more.
    if (text.isEmpty() || m_store.error()) {
        m_search->cancel();
        show(m_store.findIds(text));
        return;
    }
    m_search->request(text);
}

void HistoryListModel::show(const QList<qint64>& ids) {
    beginResetModel();
    m_ids = ids;
    m_rows.clear();
    endResetModel();
    emit searched();
}

const HistoryEntry* HistoryListModel::entryAt(int row) const {
    const qint64 id = idAt(row);
    if (!id)
        return nullptr;
    if (!m_rows.contains(id)) {
        const int first = row - row % pageSize;
        for (const HistoryEntry& entry : m_store.summaries(m_ids.mid(first, pageSize)))
            m_rows.insert(entry.id, entry);
    }
    const auto it = m_rows.constFind(id);
    return it == m_rows.constEnd() ? nullptr : &*it;
}

int HistoryListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_ids.size());
}

QVariant HistoryListModel::data(const QModelIndex& index, int role) const {
    const HistoryEntry* entry = entryAt(index.row());
    if (!entry || index.parent().isValid())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return heading(*entry) + u'\n' + firstLine(entry->output);
    case idRole:
        return entry->id;
    default:
        return {};
    }
}

} // namespace quill
