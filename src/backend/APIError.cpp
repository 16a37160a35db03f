#include "APIError.h"

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
        return QStringLiteral("Invalid API URL: ") + m_urlText;
    case Kind::networkError:
        if (m_transportError.code == QNetworkReply::ConnectionRefusedError)
            return QStringLiteral("Cannot connect to server. Is the backend running?");
        return QStringLiteral("Network error: ") + m_transportError.description;
    case Kind::serverError:
        return QStringLiteral("Server error: ") + QString::number(m_statusCode);
    case Kind::notAuthenticated:
        return QStringLiteral("Please sign in to continue");
    case Kind::rateLimited:
        return QStringLiteral("Daily limit reached. Try again tomorrow.");
    case Kind::connectionRefused:
        return QStringLiteral("Connection refused. Start the backend: cd backend && npm run dev");
    }
    return {};
}

QString RequestError::message() const {
    return isAPIError() ? apiError().message() : transportError().message();
}

} // namespace quill
