#pragma once

#include "APIError.h"

#include <optional>

class QNetworkReply;

namespace quill {

// Whether the reply's head, with its HTTP status, is in.
bool hasResponseHead(const QNetworkReply& reply);

// Whether the head in is a redirect with a target: the network manager follows it (or fails the
// reply when the redirect would leave HTTPS), so it says nothing about the answer yet.
bool isRedirect(const QNetworkReply& reply);

// The status rule of both endpoints, applied to a reply whose head is in: nothing for 200,
// otherwise the error the status stands for. An answer that is not HTTP gives serverError(0).
std::optional<APIError> statusError(const QNetworkReply& reply);

// The reply's error when it is a failure of the transport, not Qt's echo of an HTTP status.
std::optional<TransportError> transportFailure(const QNetworkReply& reply);

} // namespace quill
