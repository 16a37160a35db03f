#include "HistoryStore.h"

#include "HistorySearchText.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QVariant>

namespace quill {
namespace {

constexpr QFileDevice::Permissions ownerOnlyFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions ownerOnlyDirectory =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions userBits =
    QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser;
constexpr qint64 millisecondsPerDay = 24LL * 60 * 60 * 1000;

// Stored as words, so the file reads plainly in any SQLite tool.
QString kindName(HistoryKind kind) {
    switch (kind) {
    case HistoryKind::explanation:
        return QStringLiteral("explanation");
    case HistoryKind::actionResult:
        return QStringLiteral("action");
    case HistoryKind::transcript:
        return QStringLiteral("transcript");
    }
    return {};
}

HistoryKind kindNamed(const QString& name) {
    if (name == QLatin1String("action"))
        return HistoryKind::actionResult;
    if (name == QLatin1String("transcript"))
        return HistoryKind::transcript;
    return HistoryKind::explanation;
}

// SQLite stores a null string as NULL; the columns hold text.
QString notNull(const QString& text) {
    return text.isNull() ? QStringLiteral("") : text;
}

// What the search looks through: folded once when written, so a search folds only its text.
QString searchText(const HistoryEntry& entry) {
    return HistorySearchText::folded(entry.input + u'\n' + entry.output);
}

HistoryEntry entryFrom(const QSqlQuery& query) {
    HistoryEntry entry;
    entry.id = query.value(0).toLongLong();
    entry.time = QDateTime::fromMSecsSinceEpoch(query.value(1).toLongLong());
    entry.kind = kindNamed(query.value(2).toString());
    entry.application = query.value(3).toString();
    entry.action = query.value(4).toString();
    entry.input = query.value(5).toString();
    entry.seconds = query.value(6).toDouble();
    entry.output = query.value(7).toString();
    if (!query.value(8).isNull())
        entry.pasted = query.value(8).toBool();
    return entry;
}

} // namespace

QString HistoryStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Quillpoint/history.sqlite3");
}

HistoryStore::HistoryStore(QString path, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_connection(QStringLiteral("quillpoint-history-%1").arg(reinterpret_cast<quintptr>(this))) {
    open();
}

HistoryStore::~HistoryStore() {
    {
        QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
}

void HistoryStore::fail(const QString& what, const QString& reason) {
    m_error = what + QStringLiteral(": ") + reason;
    logLine(lcHistory(), QStringLiteral("HistoryStore"), *m_error);
}

bool HistoryStore::open() {
    if (!prepareFiles())
        return false;
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (!db.isValid()) {
        fail(tr("Cannot open the history"), tr("Qt's SQLite driver is missing (Debian: libqt6sql6-sqlite)"));
        return false;
    }
    db.setDatabaseName(m_path);
    if (!db.open()) {
        fail(tr("Cannot open the history %1").arg(m_path), db.lastError().text());
        return false;
    }
    if (!createSchema()) {
        db.close();
        return false;
    }
    m_error.reset();
    return true;
}

bool HistoryStore::prepareFiles() {
    const QFileInfo info(m_path);
    const QString directory = info.absolutePath();
    if (!QDir().mkpath(directory) || !QFile::setPermissions(directory, ownerOnlyDirectory)) {
        fail(tr("Cannot open the history"), tr("cannot create the folder %1").arg(directory));
        return false;
    }
    // SQLite gives its log files the permissions of the database, so the file exists as 0600
    // before SQLite first opens it; files from an older, looser version are tightened.
    if (!info.exists()) {
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, ownerOnlyFile)) {
            fail(tr("Cannot open the history %1").arg(m_path), file.errorString());
            return false;
        }
    }
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        const QString file = m_path + suffix;
        // The user bits Qt reports are the caller's access, not part of the mode.
        if (QFile::exists(file) && (QFile::permissions(file) & ~userBits) != ownerOnlyFile)
            QFile::setPermissions(file, ownerOnlyFile);
    }
    return true;
}

bool HistoryStore::createSchema() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    // In WAL mode with synchronous=NORMAL a commit is a write into the log without waiting for
    // the disk: a killed process loses nothing committed, only a power cut may lose the last.
    const QStringList pragmas = {
        QStringLiteral("PRAGMA journal_mode=WAL"),
        QStringLiteral("PRAGMA synchronous=NORMAL"),
        QStringLiteral("PRAGMA busy_timeout=2000"),
        // A search without the index reads every entry: mapped pages spare it a copy of each.
        QStringLiteral("PRAGMA mmap_size=268435456"),
    };
    for (const QString& statement : pragmas) {
        if (!query.exec(statement)) {
            fail(tr("Cannot open the history %1").arg(m_path), query.lastError().text());
            return false;
        }
        if (statement.startsWith(QLatin1String("PRAGMA journal_mode")) && query.next() &&
            query.value(0).toString() != QLatin1String("wal"))
            logLine(lcHistory(), QStringLiteral("HistoryStore"),
                    QStringLiteral("%1 is not in write-ahead-log mode (%2)")
                        .arg(m_path, query.value(0).toString()));
    }
    // One transaction: a file of an older version is upgraded whole or, killed on the way,
    // left as it was to be upgraded on the next start.
    if (!db.transaction()) {
        fail(tr("Cannot open the history %1").arg(m_path), db.lastError().text());
        return false;
    }
    if (!query.exec(QStringLiteral("PRAGMA user_version")) || !query.next()) {
        fail(tr("Cannot open the history %1").arg(m_path), query.lastError().text());
        db.rollback();
        return false;
    }
    const int version = query.value(0).toInt();
    const bool existed =
        query.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'entries'")) &&
        query.next();
    query.finish();
    if (version > schemaVersion) {
        db.rollback();
        fail(tr("Cannot open the history %1").arg(m_path),
             tr("it was written by a newer version of Quillpoint"));
        return false;
    }
    // The short columns come first: the list reads them without touching the pages that hold
    // the long texts.
    QStringList statements = {
        QStringLiteral("CREATE TABLE IF NOT EXISTS entries ("
                       "id INTEGER PRIMARY KEY AUTOINCREMENT,"
                       "created_at INTEGER NOT NULL,"
                       "kind TEXT NOT NULL,"
                       "application TEXT NOT NULL DEFAULT '',"
                       "action TEXT NOT NULL DEFAULT '',"
                       "seconds REAL,"
                       "pasted INTEGER,"
                       "input_preview TEXT NOT NULL DEFAULT '',"
                       "output_preview TEXT NOT NULL DEFAULT '',"
                       "input TEXT NOT NULL DEFAULT '',"
                       "output TEXT NOT NULL,"
                       "search_text TEXT NOT NULL)"),
        QStringLiteral("CREATE INDEX IF NOT EXISTS entries_created_at ON entries(created_at)"),
    };
    if (version < schemaVersion) {
        // A trigram index over the folded search text, its content read from the entries, kept
        // in step with them by triggers; 'rebuild' indexes the entries already there.
        statements += {
            QStringLiteral("CREATE VIRTUAL TABLE entries_search USING fts5(search_text, content='entries', "
                           "content_rowid='id', tokenize='trigram case_sensitive 1')"),
            QStringLiteral("INSERT INTO entries_search(entries_search) VALUES ('rebuild')"),
            QStringLiteral(
                "CREATE TRIGGER entries_search_insert AFTER INSERT ON entries BEGIN "
                "INSERT INTO entries_search(rowid, search_text) VALUES (new.id, new.search_text); END"),
            deleteTrigger(),
            QStringLiteral(
                "CREATE TRIGGER entries_search_update AFTER UPDATE OF search_text ON entries BEGIN "
                "INSERT INTO entries_search(entries_search, rowid, search_text) "
                "VALUES ('delete', old.id, old.search_text); "
                "INSERT INTO entries_search(rowid, search_text) VALUES (new.id, new.search_text); END"),
            QStringLiteral("PRAGMA user_version=%1").arg(schemaVersion),
        };
    }
    for (const QString& statement : std::as_const(statements)) {
        if (!query.exec(statement)) {
            fail(tr("Cannot open the history %1").arg(m_path), query.lastError().text());
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        fail(tr("Cannot open the history %1").arg(m_path), db.lastError().text());
        db.rollback();
        return false;
    }
    if (existed && version < schemaVersion)
        logLine(
            lcHistory(), QStringLiteral("HistoryStore"),
            QStringLiteral("%1 upgraded from version %2 to %3").arg(m_path).arg(version).arg(schemaVersion));
    return true;
}

QString HistoryStore::deleteTrigger() {
    return QStringLiteral("CREATE TRIGGER entries_search_delete AFTER DELETE ON entries BEGIN "
                          "INSERT INTO entries_search(entries_search, rowid, search_text) "
                          "VALUES ('delete', old.id, old.search_text); END");
}

std::optional<qint64> HistoryStore::add(HistoryEntry entry, const HistoryRetention& retention) {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.isOpen() && !open())
        return std::nullopt;
    db = QSqlDatabase::database(m_connection, false);
    if (!entry.time.isValid())
        entry.time = QDateTime::currentDateTimeUtc();

    db.transaction();
    QSqlQuery query(db);
    query.prepare(
        QStringLiteral("INSERT INTO entries (created_at, kind, application, action, seconds, pasted, "
                       "input_preview, output_preview, input, output, search_text) "
                       "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(entry.time.toMSecsSinceEpoch());
    query.addBindValue(kindName(entry.kind));
    query.addBindValue(notNull(entry.application));
    query.addBindValue(notNull(entry.action));
    query.addBindValue(entry.kind == HistoryKind::transcript ? QVariant(entry.seconds) : QVariant());
    query.addBindValue(entry.pasted ? QVariant(*entry.pasted ? 1 : 0) : QVariant());
    query.addBindValue(notNull(entry.input.left(previewLength)));
    query.addBindValue(notNull(entry.output.left(previewLength)));
    query.addBindValue(notNull(entry.input));
    query.addBindValue(notNull(entry.output));
    query.addBindValue(searchText(entry));
    if (!query.exec() || !applyRetention(retention) || !db.commit()) {
        fail(tr("Cannot write to the history %1").arg(m_path),
             query.lastError().isValid() ? query.lastError().text() : db.lastError().text());
        db.rollback();
        return std::nullopt;
    }
    m_error.reset();
    const qint64 id = query.lastInsertId().toLongLong();
    emit changed();
    return id;
}

bool HistoryStore::applyRetention(const HistoryRetention& retention) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("DELETE FROM entries WHERE created_at < ?"));
    query.addBindValue(QDateTime::currentMSecsSinceEpoch() - qint64(retention.days) * millisecondsPerDay);
    if (!query.exec())
        return false;
    query.prepare(QStringLiteral(
        "DELETE FROM entries WHERE id <= (SELECT id FROM entries ORDER BY id DESC LIMIT 1 OFFSET ?)"));
    query.addBindValue(retention.entries);
    return query.exec();
}

bool HistoryStore::setPasted(qint64 id, bool pasted) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("UPDATE entries SET pasted = ? WHERE id = ?"));
    query.addBindValue(pasted ? 1 : 0);
    query.addBindValue(id);
    if (!query.exec()) {
        fail(tr("Cannot write to the history %1").arg(m_path), query.lastError().text());
        return false;
    }
    emit changed();
    return true;
}

bool HistoryStore::remove(qint64 id) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(QStringLiteral("DELETE FROM entries WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec()) {
        fail(tr("Cannot write to the history %1").arg(m_path), query.lastError().text());
        return false;
    }
    emit changed();
    return true;
}

bool HistoryStore::clear() {
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    QSqlQuery query(db);
    // Deleting entry by entry would have the trigger take each text apart again for the index;
    // emptying the index at once takes no time. One transaction: the two never disagree.
    const QStringList statements = {
        QStringLiteral("DROP TRIGGER entries_search_delete"),
        QStringLiteral("DELETE FROM entries"),
        QStringLiteral("INSERT INTO entries_search(entries_search) VALUES ('delete-all')"),
        deleteTrigger(),
    };
    db.transaction();
    for (const QString& statement : statements) {
        if (!query.exec(statement)) {
            fail(tr("Cannot write to the history %1").arg(m_path), query.lastError().text());
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        fail(tr("Cannot write to the history %1").arg(m_path), db.lastError().text());
        db.rollback();
        return false;
    }
    // What was deleted should not linger in the log or in free pages of the file.
    query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    query.exec(QStringLiteral("VACUUM"));
    emit changed();
    return true;
}

QList<qint64> HistoryStore::findIds(const QString& text) const {
    return HistorySearchText::findIds(QSqlDatabase::database(m_connection, false), text);
}

QList<HistoryEntry> HistoryStore::summaries(const QList<qint64>& ids) const {
    QList<HistoryEntry> entries;
    if (ids.isEmpty())
        return entries;
    QStringList numbers;
    numbers.reserve(ids.size());
    for (const qint64 id : ids)
        numbers.append(QString::number(id));
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    if (!query.exec(
            QStringLiteral("SELECT id, created_at, kind, application, action, input_preview, seconds, "
                           "output_preview, pasted FROM entries WHERE id IN (%1)")
                .arg(numbers.join(u','))))
        return entries;
    QHash<qint64, HistoryEntry> found;
    while (query.next()) {
        const HistoryEntry entry = entryFrom(query);
        found.insert(entry.id, entry);
    }
    entries.reserve(found.size());
    for (const qint64 id : ids)
        if (const auto it = found.constFind(id); it != found.constEnd())
            entries.append(*it);
    return entries;
}

std::optional<HistoryEntry> HistoryStore::entry(qint64 id) const {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.prepare(
        QStringLiteral("SELECT id, created_at, kind, application, action, input, seconds, output, pasted "
                       "FROM entries WHERE id = ?"));
    query.addBindValue(id);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return entryFrom(query);
}

int HistoryStore::count() const {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    if (!query.exec(QStringLiteral("SELECT count(*) FROM entries")) || !query.next())
        return 0;
    return query.value(0).toInt();
}

} // namespace quill
