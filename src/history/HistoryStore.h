#pragma once

#include "HistoryEntry.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <optional>

namespace quill {

// The history database: one SQLite file in write-ahead-log mode, committed entry by entry, so
// that a process killed at any moment leaves every entry it had written. Its directory is 0700
// and the file and its log 0600. A trigram index answers searches without reading the texts.
// Main thread only; a write takes about a millisecond.
class HistoryStore : public QObject {
    Q_OBJECT
public:
    // The layout of the file, in its user_version: 0 before the search index, 1 with it.
    static constexpr int schemaVersion = 1;

    // $XDG_DATA_HOME/Quillpoint/history.sqlite3
    static QString defaultPath();

    explicit HistoryStore(QString path, QObject* parent = nullptr);
    ~HistoryStore() override;

    const QString& path() const { return m_path; }
    // Why the history cannot be read or written; none while it works.
    const std::optional<QString>& error() const { return m_error; }

    // Writes `entry` (its id and time are assigned here unless set), then drops what `retention`
    // no longer keeps. Returns the new entry's id; none when it could not be written.
    std::optional<qint64> add(HistoryEntry entry, const HistoryRetention& retention);
    bool setPasted(qint64 id, bool pasted);
    bool remove(qint64 id);
    bool clear();

    // Input and output as find() gives them: their first characters.
    static constexpr int previewLength = 200;

    // The ids of the entries whose input or output contains `text` (ignoring case), newest
    // first; all of them for an empty text.
    QList<qint64> findIds(const QString& text) const;
    // The entries with `ids` that still exist, in the order given, their input and output cut
    // to `previewLength` characters.
    QList<HistoryEntry> summaries(const QList<qint64>& ids) const;
    QList<HistoryEntry> find(const QString& text) const { return summaries(findIds(text)); }
    // One entry in full.
    std::optional<HistoryEntry> entry(qint64 id) const;
    int count() const;

signals:
    // An entry was added, changed or removed.
    void changed();

private:
    bool open();
    bool prepareFiles();
    bool createSchema();
    static QString deleteTrigger();
    bool applyRetention(const HistoryRetention& retention);
    void fail(const QString& what, const QString& reason);

    QString m_path;
    QString m_connection;
    std::optional<QString> m_error;
};

} // namespace quill
