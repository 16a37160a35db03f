#include "HistorySearchWorker.h"

#include "HistorySearchText.h"
#include "platform/Log.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace quill {

HistorySearchWorker::HistorySearchWorker(QString path, std::shared_ptr<const std::atomic<quint64>> latest)
    : m_path(std::move(path))
    , m_connection(QStringLiteral("quillpoint-history-search-%1").arg(reinterpret_cast<quintptr>(this)))
    , m_latest(std::move(latest)) {}

HistorySearchWorker::~HistorySearchWorker() {
    if (!QSqlDatabase::contains(m_connection))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

bool HistorySearchWorker::open() {
    if (QSqlDatabase::database(m_connection, false).isOpen())
        return true;
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    db.setDatabaseName(m_path);
    // Only reads: the store, which created the file, writes it.
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open()) {
        logLine(lcHistory(), QStringLiteral("HistorySearchWorker"),
                QStringLiteral("cannot read %1: %2").arg(m_path, db.lastError().text()));
        return false;
    }
    // A search too short for the index reads every entry: mapped pages spare it a copy of each.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA mmap_size=268435456"));
    return true;
}

void HistorySearchWorker::search(quint64 request, const QString& text) {
    if (request != m_latest->load())
        return;
    emit found(request, open() ? HistorySearchText::findIds(QSqlDatabase::database(m_connection, false), text)
                               : QList<qint64>());
}

} // namespace quill
