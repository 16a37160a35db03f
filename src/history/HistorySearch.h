#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <atomic>
#include <memory>

namespace quill {

class HistorySearchWorker;

// Searches the history file away from the main thread, so that typing into the search never
// waits for the database: each request replaces the one before, and only the latest is
// answered. Created and used on the main thread.
class HistorySearch : public QObject {
    Q_OBJECT
public:
    explicit HistorySearch(const QString& path, QObject* parent = nullptr);
    // Waits for a search under way to end.
    ~HistorySearch() override;

    // Looks for the entries whose input or output contains `text`; found() follows.
    void request(const QString& text);
    // The answer still due, if any, is never given.
    void cancel();

signals:
    // The ids found for the latest request, newest first.
    void found(const QList<qint64>& ids);

private:
    void deliver(quint64 request, const QList<qint64>& ids);

    // The number of the latest request, read by the worker to skip the ones before it.
    std::shared_ptr<std::atomic<quint64>> m_latest;
    QThread m_thread;
    // Lives on m_thread, which deletes it when it ends.
    HistorySearchWorker* m_worker;
};

} // namespace quill
