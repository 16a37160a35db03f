#include "HistorySearchText.h"

#include <QSqlQuery>
#include <QVariant>

namespace quill::HistorySearchText {
namespace {

// The trigram index answers only for texts of at least three characters (code points).
constexpr qsizetype trigramLength = 3;

// An FTS5 string: everything between the double quotes is text, nothing an operator.
QString phrase(const QString& text) {
    QString quoted = text;
    quoted.replace(u'"', QStringLiteral("\"\""));
    return u'"' + quoted + u'"';
}

} // namespace

QString folded(const QString& text) {
    // Qt folds one character to one, so "ß" would never meet the "SS" of its capital form.
    return text.toCaseFolded().replace(u'\u00df', QStringLiteral("ss"));
}

QList<qint64> findIds(const QSqlDatabase& db, const QString& text) {
    QList<qint64> ids;
    QSqlQuery query(db);
    query.setForwardOnly(true);
    const QString needle = folded(text);
    if (needle.isEmpty()) {
        query.prepare(QStringLiteral("SELECT id FROM entries ORDER BY id DESC"));
    } else if (needle.toUcs4().size() >= trigramLength) {
        // Trigrams in a row are the text itself: the index holds the folded search text, and
        // tokenizes it case-sensitively so that it compares exactly what was folded here.
        query.prepare(QStringLiteral(
            "SELECT rowid FROM entries_search WHERE entries_search MATCH ? ORDER BY rowid DESC"));
        query.addBindValue(phrase(needle));
    } else {
        query.prepare(
            QStringLiteral("SELECT id FROM entries WHERE instr(search_text, ?) > 0 ORDER BY id DESC"));
        query.addBindValue(needle);
    }
    if (!query.exec())
        return ids;
    while (query.next())
        ids.append(query.value(0).toLongLong());
    return ids;
}

} // namespace quill::HistorySearchText
