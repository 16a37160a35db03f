#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>

namespace quill {

// How the history's search text is kept and looked through, shared by the store and by the
// search that runs on its own thread and connection.
namespace HistorySearchText {

// Case-folded, so that a search ignores case by comparing folded text with folded text.
QString folded(const QString& text);

// The ids of the entries whose search text contains `text` (ignoring case), newest first; all
// of them for an empty text. A text too short for the trigram index reads every entry. Empty
// when the query fails.
QList<qint64> findIds(const QSqlDatabase& db, const QString& text);

} // namespace HistorySearchText
} // namespace quill
