#include "UpdateChecker.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace quill {

UpdateChecker::UpdateChecker(QNetworkAccessManager& network, std::chrono::milliseconds timeout,
                             QObject* parent)
    : QObject(parent)
    , m_network(network)
    , m_timeout(timeout) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, [this] { abort(Abort::timedOut); });
}

UpdateChecker::~UpdateChecker() {
    cancel();
}

void UpdateChecker::check(const QUrl& feedUrl, const QString& currentVersion) {
    cancel();
    m_feedUrl = feedUrl;
    m_currentVersion = currentVersion;
    if (!feedUrl.isValid() || feedUrl.isRelative()) {
        const QString error =
            QStringLiteral("No valid update feed address is configured (\"%1\").").arg(feedUrl.toString());
        // Reported from the event loop like every other outcome, and not after a cancel.
        QMetaObject::invokeMethod(
            this,
            [this, error, generation = m_generation] {
                if (generation == m_generation)
                    emit finished(failedCheck(m_currentVersion, error));
            },
            Qt::QueuedConnection);
        return;
    }
    QNetworkRequest request(feedUrl);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Quillpoint/%1 (Linux)").arg(QCoreApplication::applicationVersion()));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    m_abort = Abort::none;
    m_reply = m_network.get(request);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        if (received > maxFeedBytes || total > maxFeedBytes)
            abort(Abort::tooLarge);
    });
    connect(m_reply, &QNetworkReply::finished, this, &UpdateChecker::replyFinished);
    m_deadline.start(m_timeout);
}

void UpdateChecker::cancel() {
    ++m_generation;
    m_deadline.stop();
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    reply->abort();
    reply->deleteLater();
}

void UpdateChecker::abort(Abort reason) {
    if (!m_reply)
        return;
    m_abort = reason;
    m_reply->abort();
}

void UpdateChecker::replyFinished() {
    m_deadline.stop();
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->deleteLater();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    UpdateCheckResult result;
    if (m_abort == Abort::timedOut) {
        result = failedCheck(m_currentVersion, tr("The update server did not answer within %1 seconds.")
                                                   .arg(std::chrono::duration<double>(m_timeout).count()));
    } else if (m_abort == Abort::tooLarge) {
        result = failedCheck(m_currentVersion,
                             tr("The update feed is larger than %1 KB.").arg(maxFeedBytes / 1024));
    } else if (status >= 400) {
        result = failedCheck(m_currentVersion, tr("The update server answered with HTTP %1.").arg(status));
    } else if (reply->error() != QNetworkReply::NoError) {
        result = failedCheck(m_currentVersion,
                             tr("Could not reach the update server: %1").arg(reply->errorString()));
    } else {
        const auto parsed = parseUpdateFeed(reply->readAll(), reply->url());
        if (const auto* error = std::get_if<UpdateFeedError>(&parsed))
            result = failedCheck(m_currentVersion, error->message);
        else
            result = evaluateUpdateFeed(std::get<UpdateFeed>(parsed), m_currentVersion);
    }
    emit finished(result);
}

} // namespace quill
