#include "ModelCatalog.h"

#include "AuthService.h"
#include "platform/Log.h"

#include <algorithm>

namespace quill {
namespace {

bool lists(const QList<ModelInfo>& models, const QString& identifier) {
    return std::any_of(models.cbegin(), models.cend(),
                       [&identifier](const ModelInfo& model) { return model.id == identifier; });
}

// Worth asking again: the backend was not reached or failed for the moment. A refusal or an
// answer it will give again is not.
bool isPassing(const RequestError& error) {
    if (!error.isAPIError())
        return true;
    const APIError& apiError = error.apiError();
    return apiError.kind() == APIError::Kind::networkError ||
           apiError.kind() == APIError::Kind::connectionRefused ||
           (apiError.kind() == APIError::Kind::serverError &&
            (apiError.statusCode() == 0 || apiError.statusCode() >= 500));
}

} // namespace

ModelCatalog::ModelCatalog(QuillAPIClient& client, AuthService& auth, QList<ModelInfo> builtInModels,
                           std::function<QString()> chosenModel, QObject* parent)
    : QObject(parent)
    , m_client(client)
    , m_auth(auth)
    , m_builtIn(std::move(builtInModels))
    , m_chosenModel(std::move(chosenModel)) {
    Q_ASSERT(!m_builtIn.isEmpty());
    m_retry.setSingleShot(true);
    connect(&m_retry, &QTimer::timeout, this, &ModelCatalog::refresh);
    connect(&m_auth, &AuthService::isAuthenticatedChanged, this, [this](bool authenticated) {
        if (authenticated)
            refresh();
    });
    refresh();
}

const QList<ModelInfo>& ModelCatalog::models() const {
    return m_source == Source::backend ? m_backendModels : m_builtIn;
}

QString ModelCatalog::effectiveModel() const {
    const QString chosen = m_chosenModel();
    if (m_source == Source::backend)
        return !chosen.isEmpty() && lists(m_backendModels, chosen) ? chosen : m_backendModels.constFirst().id;
    return chosen.isEmpty() ? m_builtIn.constFirst().id : chosen;
}

bool ModelCatalog::choiceUnavailable() const {
    const QString chosen = m_chosenModel();
    return m_source == Source::backend && !chosen.isEmpty() && !lists(m_backendModels, chosen);
}

QString ModelCatalog::displayName(const QString& identifier) const {
    for (const QList<ModelInfo>* list : {&m_backendModels, &m_builtIn}) {
        const auto it = std::find_if(list->cbegin(), list->cend(), [&identifier](const ModelInfo& model) {
            return model.id == identifier;
        });
        if (it != list->cend())
            return it->name;
    }
    return identifier;
}

void ModelCatalog::refresh() {
    if (m_fetching || !m_auth.isAuthenticated())
        return;
    m_fetching = true;
    m_retry.stop();
    m_client.fetchModels(this, [this](const ModelListResult& result) {
        m_fetching = false;
        apply(result);
    });
}

void ModelCatalog::apply(const ModelListResult& result) {
    if (result) {
        m_retryMs = firstRetryMs;
        m_backendModels = result.value().models;
        m_transcription = result.value().transcription;
        m_source = m_backendModels.isEmpty() ? Source::backendWithoutModels : Source::backend;
        if (m_source == Source::backendWithoutModels)
            logLine(lcBackend(), QStringLiteral("ModelCatalog"),
                    QStringLiteral("The backend has no model to answer with"));
    } else if (result.error().isAPIError() &&
               result.error().apiError().kind() == APIError::Kind::serverError &&
               result.error().apiError().statusCode() == 404) {
        // A backend from before the list serves the built-in models.
        m_backendModels.clear();
        m_transcription.reset();
        m_source = Source::builtIn;
    } else {
        // What was known stays until the backend answers again.
        if (isPassing(result.error())) {
            m_retry.start(m_retryMs);
            m_retryMs = std::min(m_retryMs * 2, longestRetryMs);
        }
        return;
    }
    emit modelsChanged();
    reportFallback();
}

void ModelCatalog::reportFallback() {
    if (!choiceUnavailable()) {
        m_reportedChoice.clear();
        return;
    }
    const QString chosen = m_chosenModel();
    if (chosen == m_reportedChoice)
        return;
    m_reportedChoice = chosen;
    const QString used = effectiveModel();
    logLine(lcBackend(), QStringLiteral("ModelCatalog"),
            QStringLiteral("The backend does not offer the chosen model \"%1\"; using \"%2\" (%3) until "
                           "another is chosen in Preferences")
                .arg(chosen, displayName(used), used));
}

} // namespace quill
