#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <memory>

namespace quill {

// Runs history searches on the thread it lives on, with a connection of its own to the file.
// A request that is no longer the latest when its turn comes is skipped unanswered.
class HistorySearchWorker : public QObject {
    Q_OBJECT
public:
    HistorySearchWorker(QString path, std::shared_ptr<const std::atomic<quint64>> latest);
    ~HistorySearchWorker() override;

    void search(quint64 request, const QString& text);

signals:
    void found(quint64 request, const QList<qint64>& ids);

private:
    bool open();

    QString m_path;
    QString m_connection;
    std::shared_ptr<const std::atomic<quint64>> m_latest;
};

} // namespace quill
