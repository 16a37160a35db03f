#pragma once

#include "UpdateFeed.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>

class QNetworkAccessManager;
class QNetworkReply;

namespace quill {

// Fetches the update feed and compares it with the running version. Every check ends with
// exactly one `finished`, within the timeout, unless it is cancelled.
class UpdateChecker : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds defaultTimeout{15000};
    // A feed lists a handful of versions; anything much larger is not a feed.
    static constexpr qint64 maxFeedBytes = qint64{1024} * 1024;

    explicit UpdateChecker(QNetworkAccessManager& network, std::chrono::milliseconds timeout = defaultTimeout,
                           QObject* parent = nullptr);
    ~UpdateChecker() override;

    // Starts a check, abandoning any check still running.
    void check(const QUrl& feedUrl, const QString& currentVersion);
    void cancel();
    bool isChecking() const { return !m_reply.isNull(); }

signals:
    void finished(const quill::UpdateCheckResult& result);

private:
    enum class Abort { none, timedOut, tooLarge };
    void abort(Abort reason);
    void replyFinished();

    QNetworkAccessManager& m_network;
    std::chrono::milliseconds m_timeout;
    QPointer<QNetworkReply> m_reply;
    QTimer m_deadline;
    QUrl m_feedUrl;
    QString m_currentVersion;
    Abort m_abort = Abort::none;
    quint64 m_generation = 0;
};

} // namespace quill
