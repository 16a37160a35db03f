#pragma once

#include "ModelList.h"
#include "QuillAPIClient.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

namespace quill {

class AuthService;

// The models the user can choose from, and the one a request uses. They come from the backend
// once it has answered; until then, and from a backend that does not list its models (older ones
// answer 404), the models built into the program are offered and the stored choice is sent as
// it is. A choice the backend does not offer is never overwritten: requests use the backend's
// first model until the user chooses another, and the log says so once.
class ModelCatalog : public QObject {
    Q_OBJECT
public:
    enum class Source {
        builtIn,
        backend,
        // The backend answered with an empty list: it has no model to answer with.
        backendWithoutModels,
    };
    // A backend that did not answer is asked again after this, doubling up to the longest wait.
    static constexpr int firstRetryMs = 2'000;
    static constexpr int longestRetryMs = 120'000;

    // `chosenModel` reads the user's stored choice, empty when there is none. The list is asked
    // for as soon as the user is signed in.
    ModelCatalog(QuillAPIClient& client, AuthService& auth, QList<ModelInfo> builtInModels,
                 std::function<QString()> chosenModel, QObject* parent = nullptr);

    Source source() const { return m_source; }
    // The models offered, in order; never empty.
    const QList<ModelInfo>& models() const;
    // The backend's model for speech, when it listed one.
    std::optional<ModelInfo> transcriptionModel() const { return m_transcription; }

    // The identifier a request sends.
    QString effectiveModel() const;
    // Whether the stored choice is one the backend does not offer, so that effectiveModel() is
    // its first model instead.
    bool choiceUnavailable() const;
    // The name of a listed model, else the identifier itself.
    QString displayName(const QString& identifier) const;

    // Asks the backend again; the answer arrives later through modelsChanged.
    void refresh();

signals:
    void modelsChanged();

private:
    void apply(const ModelListResult& result);
    void reportFallback();

    QuillAPIClient& m_client;
    AuthService& m_auth;
    const QList<ModelInfo> m_builtIn;
    std::function<QString()> m_chosenModel;
    Source m_source = Source::builtIn;
    QList<ModelInfo> m_backendModels;
    std::optional<ModelInfo> m_transcription;
    bool m_fetching = false;
    int m_retryMs = firstRetryMs;
    QTimer m_retry;
    // The choice whose fallback was last reported, so each is reported once.
    QString m_reportedChoice;
};

} // namespace quill
