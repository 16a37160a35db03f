#pragma once

#include <QMetaType>
#include <QString>
#include <utility>
#include <variant>

namespace quill {

// A failure of the network transport itself, as Qt reported it. `code` is a
// QNetworkReply::NetworkError; `description` is Qt's own text for it.
struct TransportError {
    int code = 0;
    QString description;

    QString message() const { return description; }
    bool operator==(const TransportError&) const = default;
};

// The errors of the backend client. `message()` is the text the user sees.
class APIError {
public:
    enum class Kind {
        invalidURL,
        networkError,
        serverError,
        notAuthenticated,
        rateLimited,
        connectionRefused
    };

    APIError() = default;
    static APIError invalidURL(QString urlText);
    static APIError networkError(TransportError error);
    static APIError serverError(int statusCode);
    static APIError notAuthenticated() { return APIError(Kind::notAuthenticated); }
    static APIError rateLimited() { return APIError(Kind::rateLimited); }
    static APIError connectionRefused() { return APIError(Kind::connectionRefused); }

    Kind kind() const { return m_kind; }
    // invalidURL only: the URL text that did not parse.
    const QString& urlText() const { return m_urlText; }
    // networkError only.
    const TransportError& transportError() const { return m_transportError; }
    // serverError only: the HTTP status, 0 when the answer was not HTTP at all.
    int statusCode() const { return m_statusCode; }

    QString message() const;

    bool operator==(const APIError&) const = default;

private:
    explicit APIError(Kind kind) : m_kind(kind) {}

    Kind m_kind = Kind::serverError;
    QString m_urlText;
    TransportError m_transportError;
    int m_statusCode = 0;
};

// What a failed transcription reports: one of the client's errors, or the transport's own
// error passed on unchanged.
class RequestError {
public:
    RequestError(APIError error) : m_error(std::move(error)) {}
    RequestError(TransportError error) : m_error(std::move(error)) {}

    bool isAPIError() const { return std::holds_alternative<APIError>(m_error); }
    const APIError& apiError() const { return std::get<APIError>(m_error); }
    const TransportError& transportError() const { return std::get<TransportError>(m_error); }
    QString message() const;

    bool operator==(const RequestError&) const = default;

private:
    std::variant<APIError, TransportError> m_error;
};

// A value or the error that prevented it.
template <typename T, typename E> class Result {
public:
    Result(T value) : m_data(std::in_place_index<0>, std::move(value)) {}
    Result(E error) : m_data(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_data.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() { return std::get<0>(m_data); }
    const T& value() const { return std::get<0>(m_data); }
    const E& error() const { return std::get<1>(m_data); }

private:
    std::variant<T, E> m_data;
};

} // namespace quill

Q_DECLARE_METATYPE(quill::APIError)
