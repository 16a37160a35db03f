#include "HistorySearch.h"

#include "HistorySearchWorker.h"

namespace quill {

HistorySearch::HistorySearch(const QString& path, QObject* parent)
    : QObject(parent)
    , m_latest(std::make_shared<std::atomic<quint64>>(0))
    , m_worker(new HistorySearchWorker(path, m_latest)) {
    m_thread.setObjectName(QStringLiteral("history search"));
    m_worker->moveToThread(&m_thread);
    // Its connection belongs to that thread, so it is closed there.
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    connect(m_worker, &HistorySearchWorker::found, this, &HistorySearch::deliver, Qt::QueuedConnection);
    m_thread.start();
}

HistorySearch::~HistorySearch() {
    m_thread.quit();
    m_thread.wait();
}

void HistorySearch::request(const QString& text) {
    const quint64 request = ++*m_latest;
    QMetaObject::invokeMethod(
        m_worker, [worker = m_worker, request, text] { worker->search(request, text); },
        Qt::QueuedConnection);
}

void HistorySearch::cancel() {
    ++*m_latest;
}

void HistorySearch::deliver(quint64 request, const QList<qint64>& ids) {
    if (request == m_latest->load())
        emit found(ids);
}

} // namespace quill
