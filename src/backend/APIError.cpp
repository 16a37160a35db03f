#include "APIError.h"

#include <QCoreApplication>
#include <QNetworkReply>

namespace quill {

APIError APIError::invalidURL(QString urlText) {
    APIError error(Kind::invalidURL);
    error.m_urlText = std::move(urlText);
    return error;
}

APIError APIError::networkError(TransportError transportError) {
    APIError error(Kind::networkError);
    error.m_transportError = std::move(transportError);
    return error;
}

APIError APIError::serverError(int statusCode) {
    APIError error(Kind::serverError);
    error.m_statusCode = statusCode;
    return error;
}

QString APIError::message() const {
    switch (m_kind) {
    case Kind::invalidURL:
        return QCoreApplication::translate("quill::APIError", "Invalid API URL: %1").arg(m_urlText);
    case Kind::networkError:
        if (m_transportError.code == QNetworkReply::ConnectionRefusedError)
            return QCoreApplication::translate("quill::APIError",
                                               "Cannot connect to server. Is the backend running?");
        return QCoreApplication::translate("quill::APIError", "Network error: %1")
            .arg(m_transportError.description);
    case Kind::serverError:
        return QCoreApplication::translate("quill::APIError", "Server error: %1").arg(m_statusCode);
    case Kind::notAuthenticated:
        return QCoreApplication::translate("quill::APIError", "Please sign in to continue");
    case Kind::rateLimited:
        return QCoreApplication::translate("quill::APIError", "Daily limit reached. Try again tomorrow.");
    case Kind::connectionRefused:
        return QCoreApplication::translate(
            "quill::APIError", "Connection refused. Start the backend: cd backend && npm run dev");
    }
    return {};
}

QString RequestError::message() const {
    return isAPIError() ? apiError().message() : transportError().message();
}

} // namespace quill
