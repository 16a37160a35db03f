#include "QuillAPIClient.h"

#include "AuthService.h"
#include "ReplyStatus.h"
#include "platform/SettingsStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace quill {
namespace {

// Waits for the whole transcription reply, holding at most the cap of body bytes.
class TranscriptionExchange : public QObject {
public:
    TranscriptionExchange(QNetworkAccessManager& network, const QNetworkRequest& request,
                          const QByteArray& audioData, QObject* context,
                          std::function<void(const TranscriptionResult&)> done)
        : QObject(&network)
        , m_context(context)
        , m_done(std::move(done)) {
        m_reply = network.post(request, audioData);
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { readBody(); });
        connect(m_reply, &QNetworkReply::finished, this, [this] { replyFinished(); });
    }

private:
    void readBody() {
        m_body += m_reply->readAll();
        if (m_body.size() > QuillAPIClient::maxTranscriptionReplyBytes) {
            const auto error = statusError(*m_reply);
            finish(RequestError(error ? *error : APIError::serverError(200)));
        }
    }

    void replyFinished() {
        if (const auto failure = transportFailure(*m_reply)) {
            finish(RequestError(*failure));
            return;
        }
        readBody();
        if (m_finished)
            return;
        if (const auto error = statusError(*m_reply)) {
            finish(RequestError(*error));
            return;
        }
        const QJsonDocument document = QJsonDocument::fromJson(m_body);
        const QJsonValue text = document.object().value(QLatin1StringView("text"));
        if (!document.isObject() || !text.isString()) {
            finish(RequestError(APIError::serverError(200)));
            return;
        }
        finish(text.toString());
    }

    void finish(const TranscriptionResult& result) {
        m_finished = true;
        m_reply->disconnect(this);
        QTimer::singleShot(0, m_reply, [reply = m_reply] {
            if (reply->isRunning())
                reply->abort();
            reply->deleteLater();
        });
        m_body.clear();
        if (m_context)
            m_done(result);
        deleteLater();
    }

    QPointer<QObject> m_context;
    std::function<void(const TranscriptionResult&)> m_done;
    QNetworkReply* m_reply = nullptr;
    QByteArray m_body;
    bool m_finished = false;
};

} // namespace

QuillAPIClient::QuillAPIClient(KeychainHelper keychain, ModelGetter selectedModel, SettingsStore& settings,
                               QNetworkAccessManager* network, int idleTimeoutMs, QObject* parent)
    : QObject(parent)
    , m_keychain(std::move(keychain))
    , m_selectedModel(std::move(selectedModel))
    , m_settings(settings)
    , m_network(network ? network : new QNetworkAccessManager(this))
    , m_idleTimeoutMs(idleTimeoutMs) {}

QuillAPIClient::~QuillAPIClient() = default;

QString QuillAPIClient::builtInBaseURL() {
    return QStringLiteral(QUILLPOINT_API_BASE_URL);
}

QString QuillAPIClient::apiBaseURL() const {
    const auto stored = m_settings.value(baseURLOverrideKey);
    if (stored) {
        QString override = stored->toString();
        if (!override.isEmpty())
            return override;
    }
    return builtInBaseURL();
}

Result<QNetworkRequest, APIError> QuillAPIClient::prepareRequest(const QString& path,
                                                                 const QByteArray& contentType) {
    const auto token = m_keychain.load(AuthService::tokenKey);
    if (!token)
        return APIError::notAuthenticated();
    const QString urlText = apiBaseURL() + path;
    const QUrl url(urlText, QUrl::StrictMode);
    if (!url.isValid())
        return APIError::invalidURL(urlText);

    QNetworkRequest request(url);
    request.setRawHeader("Content-Type", contentType);
    request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    request.setTransferTimeout(m_idleTimeoutMs);
    // Both endpoints follow a moved backend alike, but never from HTTPS to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

ExplainResult QuillAPIClient::explain(const QString& text, bool detailed) {
    auto request = prepareRequest(explainPath, "application/json");
    if (!request)
        return request.error();
    const QJsonObject body{
        {QStringLiteral("text"), text},
        {QStringLiteral("model"), m_selectedModel()},
        {QStringLiteral("detailed"), detailed},
    };
    return startExplanationStream(*m_network, request.value(),
                                  QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void QuillAPIClient::transcribe(const QByteArray& audioData, QObject* context,
                                std::function<void(const TranscriptionResult&)> done) {
    auto request = prepareRequest(transcribePath, "audio/mp4");
    if (!request) {
        QMetaObject::invokeMethod(
            context, [done = std::move(done), error = request.error()] { done(RequestError(error)); },
            Qt::QueuedConnection);
        return;
    }
    new TranscriptionExchange(*m_network, request.value(), audioData, context, std::move(done));
}

} // namespace quill
