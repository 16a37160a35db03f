#pragma once

#include "APIError.h"
#include "ExplanationStream.h"
#include "ModelList.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkRequest;

namespace quill {

class SettingsStore;

using ExplainResult = Result<std::unique_ptr<ExplanationStream>, APIError>;
using TranscriptionResult = Result<QString, RequestError>;
using ModelListResult = Result<ModelList, RequestError>;

// The one component that talks to the backend. It keeps no state between calls: the base URL,
// the bearer token and the model are asked for afresh for every request, so a change of any of
// them applies to the next request. All calls are made on the main thread; the network work itself
// runs inside Qt's network manager and reports back through the event loop.
class QuillAPIClient : public QObject {
    Q_OBJECT
public:
    static inline const QString baseURLOverrideKey = QStringLiteral("quillpoint_api_base_url_override");
    static inline const QString explainPath = QStringLiteral("/api/explain");
    static inline const QString transcribePath = QStringLiteral("/api/transcribe");
    static inline const QString modelsPath = QStringLiteral("/api/models");
    // Longest wait for the next bytes of a reply, not a limit on the whole exchange.
    static constexpr int defaultIdleTimeoutMs = 30'000;
    // A transcription reply larger than this is not a transcription.
    static constexpr qsizetype maxTranscriptionReplyBytes = qsizetype{10} * 1024 * 1024;

    // The identifier of the model the user chose, read for every request.
    using ModelGetter = std::function<QString()>;
    // The bearer token of the sign-in, none while signed out; asked for every request.
    using TokenGetter = std::function<std::optional<QString>()>;

    // `network` may be null: the client then makes its own. `settings` must outlive the client.
    QuillAPIClient(TokenGetter bearerToken, ModelGetter selectedModel, SettingsStore& settings,
                   QNetworkAccessManager* network = nullptr, int idleTimeoutMs = defaultIdleTimeoutMs,
                   QObject* parent = nullptr);
    ~QuillAPIClient() override;

    // The override from the settings, exactly as stored, unless absent or empty; else the
    // address built into the program.
    QString apiBaseURL() const;
    static QString builtInBaseURL();

    // Sends `text` for an explanation. Fails at once, before any traffic, with notAuthenticated
    // (no token) or invalidURL; otherwise returns the stream of the reply (see
    // ExplanationStream for how it is consumed and how it ends). With an `instruction` the
    // backend does that with the text instead of explaining it.
    ExplainResult explain(const QString& text, bool detailed, const QString& instruction = {});

    // Uploads a recording (the whole file) and calls `done` with the transcribed text or the
    // error, always later from the event loop, never from inside this call. `done` is not
    // called when `context` has been destroyed by then. Errors are APIErrors, or the transport's
    // own error unchanged. A `language` (ISO 639-1) tells the speech model what is spoken;
    // without one it detects the language itself. A `prompt` holds words the speech model should
    // expect (names, jargon).
    void transcribe(const QByteArray& audioData, QObject* context,
                    std::function<void(const TranscriptionResult&)> done, const QString& language = {},
                    const QString& prompt = {});

    // Asks the backend which models it serves and calls `done` with the list or the error, on
    // the same terms as transcribe. A backend that predates the list answers 404.
    void fetchModels(QObject* context, std::function<void(const ModelListResult&)> done);

private:
    // Token first, then the URL: without a token nothing else is looked at.
    Result<QNetworkRequest, APIError> prepareRequest(const QString& path, const QByteArray& contentType);

    TokenGetter m_bearerToken;
    ModelGetter m_selectedModel;
    SettingsStore& m_settings;
    QNetworkAccessManager* m_network;
    int m_idleTimeoutMs;
};

} // namespace quill
