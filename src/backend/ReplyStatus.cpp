#include "ReplyStatus.h"

#include <QCoreApplication>
#include <QNetworkReply>

namespace quill {
namespace {

QVariant httpStatus(const QNetworkReply& reply) {
    return reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
}

// Qt turns 4xx and 5xx statuses into errors of its own; those say nothing about the transport.
bool echoesHttpStatus(QNetworkReply::NetworkError error) {
    return (error >= QNetworkReply::ContentAccessDenied && error <= QNetworkReply::UnknownContentError) ||
           (error >= QNetworkReply::InternalServerError && error <= QNetworkReply::UnknownServerError) ||
           error == QNetworkReply::ProtocolInvalidOperationError;
}

} // namespace

bool hasResponseHead(const QNetworkReply& reply) {
    return httpStatus(reply).isValid();
}

bool isRedirect(const QNetworkReply& reply) {
    const int code = httpStatus(reply).toInt();
    const bool redirectStatus = code == 301 || code == 302 || code == 303 || code == 307 || code == 308;
    return redirectStatus && reply.hasRawHeader("Location");
}

std::optional<APIError> statusError(const QNetworkReply& reply) {
    const QVariant status = httpStatus(reply);
    if (!status.isValid())
        return APIError::serverError(0);
    const int code = status.toInt();
    if (code == 429)
        return APIError::rateLimited();
    if (code == 401)
        return APIError::notAuthenticated();
    if (code != 200)
        return APIError::serverError(code);
    return std::nullopt;
}

std::optional<TransportError> transportFailure(const QNetworkReply& reply) {
    const QNetworkReply::NetworkError error = reply.error();
    if (error == QNetworkReply::NoError)
        return std::nullopt;
    if (httpStatus(reply).isValid() && echoesHttpStatus(error))
        return std::nullopt;
    // The client stops listening before it aborts a reply itself, so a cancelled reply it still
    // hears about is one that Qt gave up on after the idle timeout; Qt only says "canceled".
    if (error == QNetworkReply::OperationCanceledError)
        return TransportError{QNetworkReply::TimeoutError,
                              QCoreApplication::translate("quill::ReplyStatus", "The request timed out.")};
    return TransportError{error, reply.errorString()};
}

} // namespace quill
