#include "QuillAPIClient.h"

#include "ReplyStatus.h"
#include "platform/Log.h"
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

// Waits for the whole reply to a request, holding at most `maxBytes` of its body, and hands
// over the body of a 200 answer or the error.
class BoundedExchange : public QObject {
public:
    using Done = std::function<void(const Result<QByteArray, RequestError>&)>;

    BoundedExchange(QNetworkAccessManager& network, QNetworkReply* reply, qsizetype maxBytes,
                    QObject* context, Done done)
        : QObject(&network)
        , m_context(context)
        , m_done(std::move(done))
        , m_reply(reply)
        , m_maxBytes(maxBytes) {
        connect(m_reply, &QNetworkReply::readyRead, this, [this] { readBody(); });
        connect(m_reply, &QNetworkReply::finished, this, [this] { replyFinished(); });
    }

private:
    void readBody() {
        m_body += m_reply->readAll();
        if (m_body.size() > m_maxBytes) {
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
        finish(m_body);
    }

    void finish(const Result<QByteArray, RequestError>& result) {
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
    Done m_done;
    QNetworkReply* m_reply;
    qsizetype m_maxBytes;
    QByteArray m_body;
    bool m_finished = false;
};

// Calls `done` with `error` on a later turn of the event loop, unless `context` is gone by then.
template <typename Done, typename Error> void failLater(QObject* context, Done done, const Error& error) {
    QMetaObject::invokeMethod(
        context, [done = std::move(done), error] { done(RequestError(error)); }, Qt::QueuedConnection);
}

} // namespace

QuillAPIClient::QuillAPIClient(TokenGetter bearerToken, ModelGetter selectedModel, SettingsStore& settings,
                               QNetworkAccessManager* network, int idleTimeoutMs, QObject* parent)
    : QObject(parent)
    , m_bearerToken(std::move(bearerToken))
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
    const auto token = m_bearerToken();
    if (!token)
        return APIError::notAuthenticated();
    const QString urlText = apiBaseURL() + path;
    const QUrl url(urlText, QUrl::StrictMode);
    if (!url.isValid())
        return APIError::invalidURL(urlText);

    QNetworkRequest request(url);
    if (!contentType.isEmpty())
        request.setRawHeader("Content-Type", contentType);
    request.setRawHeader("Authorization", "Bearer " + token->toUtf8());
    request.setTransferTimeout(m_idleTimeoutMs);
    // Both endpoints follow a moved backend alike, but never from HTTPS to plain HTTP.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

ExplainResult QuillAPIClient::explain(const QString& text, bool detailed, const QString& instruction) {
    logLatencyMark("explain: preparing the request");
    auto request = prepareRequest(explainPath, "application/json");
    logLatencyMark("explain: token read");
    if (!request)
        return request.error();
    QJsonObject body{
        {QStringLiteral("text"), text},
        {QStringLiteral("model"), m_selectedModel()},
        {QStringLiteral("detailed"), detailed},
    };
    if (!instruction.isEmpty())
        body.insert(QStringLiteral("instruction"), instruction);
    return startExplanationStream(*m_network, request.value(),
                                  QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void QuillAPIClient::transcribe(const QByteArray& audioData, QObject* context,
                                std::function<void(const TranscriptionResult&)> done, const QString& language,
                                const QString& prompt) {
    auto request = prepareRequest(transcribePath, "audio/mp4");
    if (!request) {
        failLater(context, std::move(done), request.error());
        return;
    }
    // Encoded by hand: a QUrlQuery would leave "+" as it is, which the backend reads as a space.
    QByteArray query;
    const auto add = [&query](const char* name, const QString& value) {
        if (value.isEmpty())
            return;
        query += (query.isEmpty() ? "" : "&") + QByteArray(name) + '=' + QUrl::toPercentEncoding(value);
    };
    add("language", language);
    add("prompt", prompt);
    if (!query.isEmpty()) {
        QUrl url = request.value().url();
        url.setQuery(QString::fromLatin1(query), QUrl::StrictMode);
        request.value().setUrl(url);
    }
    QNetworkReply* reply = m_network->post(request.value(), audioData);
    connect(reply, &QNetworkReply::requestSent, reply, [] { logLatencyMark("transcribe request sent"); });
    new BoundedExchange(*m_network, reply, maxTranscriptionReplyBytes, context,
                        [done = std::move(done)](const Result<QByteArray, RequestError>& body) {
                            if (!body) {
                                done(body.error());
                                return;
                            }
                            const QJsonDocument document = QJsonDocument::fromJson(body.value());
                            const QJsonValue text = document.object().value(QLatin1StringView("text"));
                            if (!document.isObject() || !text.isString())
                                done(RequestError(APIError::serverError(200)));
                            else
                                done(text.toString());
                        });
}

void QuillAPIClient::fetchModels(QObject* context, std::function<void(const ModelListResult&)> done) {
    auto request = prepareRequest(modelsPath, {});
    if (!request) {
        failLater(context, std::move(done), request.error());
        return;
    }
    QNetworkReply* reply = m_network->get(request.value());
    new BoundedExchange(*m_network, reply, ModelList::maxReplyBytes, context,
                        [done = std::move(done)](const Result<QByteArray, RequestError>& body) {
                            if (!body) {
                                done(body.error());
                                return;
                            }
                            const auto list = parseModelList(body.value());
                            if (list)
                                done(*list);
                            else
                                done(RequestError(APIError::serverError(200)));
                        });
}

} // namespace quill
