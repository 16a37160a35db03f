#include "ExplanationDecoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace quill {
namespace {

constexpr QByteArrayView eventPrefix("data: ");
constexpr QByteArrayView endMarker("[DONE]");

QJsonDocument parsePayload(QByteArrayView payload) {
    QJsonParseError error{};
    const QByteArray raw = QByteArray::fromRawData(payload.data(), payload.size());
    QJsonDocument document = QJsonDocument::fromJson(raw, &error);
    // The line is text: bytes that are not UTF-8 stand for U+FFFD, as they would on screen.
    if (error.error == QJsonParseError::IllegalUTF8String)
        document = QJsonDocument::fromJson(QString::fromUtf8(payload).toUtf8());
    return document;
}

} // namespace

EventLine decodeEventLine(QByteArrayView line) {
    if (!line.startsWith(eventPrefix))
        return {};
    const QByteArrayView payload = line.sliced(eventPrefix.size());
    if (payload == endMarker)
        return {EventLine::Kind::endMarker, {}};

    const QJsonDocument document = parsePayload(payload);
    if (!document.isObject())
        return {};
    const QJsonValue choices = document.object().value(QLatin1StringView("choices"));
    if (!choices.isArray())
        return {};
    const QJsonArray array = choices.toArray();
    if (array.isEmpty())
        return {};
    // The chunk is only usable when every choice is an object, even though only the first is read.
    for (const auto& choice : array) {
        if (!choice.isObject())
            return {};
    }
    const QJsonValue delta = array.first().toObject().value(QLatin1StringView("delta"));
    if (!delta.isObject())
        return {};
    const QJsonValue content = delta.toObject().value(QLatin1StringView("content"));
    if (!content.isString())
        return {};
    return {EventLine::Kind::piece, content.toString()};
}

bool LineSplitter::feed(QByteArrayView bytes, const std::function<bool(QByteArrayView line)>& onLine) {
    const char* data = bytes.data();
    const qsizetype size = bytes.size();
    qsizetype pos = 0;
    if (m_skipLineFeed && size > 0) {
        m_skipLineFeed = false;
        if (data[0] == '\n')
            pos = 1;
    }
    while (pos < size) {
        qsizetype lineEnd = pos;
        while (lineEnd < size && data[lineEnd] != '\n' && data[lineEnd] != '\r')
            ++lineEnd;
        const qsizetype length = lineEnd - pos;
        if (lineEnd == size) {
            if (!m_discarding) {
                if (m_pending.size() + length > m_maxLineBytes) {
                    m_pending.resize(0);
                    m_discarding = true;
                } else {
                    m_pending.append(data + pos, length);
                }
            }
            return true;
        }

        bool keepGoing = true;
        if (m_discarding) {
            m_discarding = false;
        } else if (m_pending.isEmpty()) {
            if (length <= m_maxLineBytes)
                keepGoing = onLine(QByteArrayView(data + pos, length));
        } else {
            if (m_pending.size() + length <= m_maxLineBytes) {
                m_pending.append(data + pos, length);
                keepGoing = onLine(m_pending);
            }
            m_pending.resize(0);
        }

        if (data[lineEnd] == '\r') {
            if (lineEnd + 1 < size) {
                if (data[lineEnd + 1] == '\n')
                    ++lineEnd;
            } else {
                m_skipLineFeed = true;
            }
        }
        pos = lineEnd + 1;
        if (!keepGoing)
            return false;
    }
    return true;
}

bool LineSplitter::finish(const std::function<bool(QByteArrayView line)>& onLine) {
    const bool hadLine = !m_discarding && !m_pending.isEmpty();
    m_discarding = false;
    m_skipLineFeed = false;
    if (!hadLine)
        return true;
    const QByteArray line = std::exchange(m_pending, {});
    return onLine(line);
}

bool ExplanationDecoder::handle(QByteArrayView line, const std::function<void(const QString&)>& onPiece) {
    EventLine event = decodeEventLine(line);
    switch (event.kind) {
    case EventLine::Kind::ignored:
        return true;
    case EventLine::Kind::piece:
        onPiece(event.piece);
        return true;
    case EventLine::Kind::endMarker:
        m_ended = true;
        return false;
    }
    return true;
}

bool ExplanationDecoder::feed(QByteArrayView bytes, const std::function<void(const QString&)>& onPiece) {
    if (m_ended)
        return true;
    m_splitter.feed(bytes, [&](QByteArrayView line) { return handle(line, onPiece); });
    return m_ended;
}

bool ExplanationDecoder::finish(const std::function<void(const QString&)>& onPiece) {
    if (m_ended)
        return true;
    m_splitter.finish([&](QByteArrayView line) { return handle(line, onPiece); });
    return m_ended;
}

} // namespace quill
