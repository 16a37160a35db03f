#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>

namespace quill {

// What one line of the explain reply means.
struct EventLine {
    enum class Kind {
        ignored,  // anything that is not an event line carrying a usable chunk
        piece,    // a chunk with text; `piece` holds it, possibly empty
        endMarker // "data: [DONE]"
    };
    Kind kind = Kind::ignored;
    QString piece;
};

// Interprets one complete line (without its line break) of the server-sent-events body.
EventLine decodeEventLine(QByteArrayView line);

// Cuts a byte stream into lines at LF, CR or CRLF, wherever the network happened to split it.
// A line that grows past `maxLineBytes` without a break is dropped whole: the splitter skips
// to the next break, so a hostile or broken server cannot make it hold more than that.
class LineSplitter {
public:
    static constexpr qsizetype defaultMaxLineBytes = qsizetype{1024} * 1024;

    explicit LineSplitter(qsizetype maxLineBytes = defaultMaxLineBytes) : m_maxLineBytes(maxLineBytes) {}

    // Calls `onLine` for every line completed by `bytes`; stops early when it returns false.
    // Returns false when it was stopped.
    bool feed(QByteArrayView bytes, const std::function<bool(QByteArrayView line)>& onLine);
    // The body ended: a last line without a break still counts.
    bool finish(const std::function<bool(QByteArrayView line)>& onLine);

    qsizetype bufferedBytes() const { return m_pending.size(); }

private:
    QByteArray m_pending;
    qsizetype m_maxLineBytes;
    bool m_skipLineFeed = false; // the last read ended in CR: a leading LF belongs to it
    bool m_discarding = false;   // inside an over-long line, waiting for its break
};

// Turns the explain reply body, in reads of any size, into text pieces in order.
class ExplanationDecoder {
public:
    explicit ExplanationDecoder(qsizetype maxLineBytes = LineSplitter::defaultMaxLineBytes)
        : m_splitter(maxLineBytes) {}

    // Calls `onPiece` for each piece completed by `bytes`. Returns true once the end marker has
    // been seen; nothing after it is looked at.
    bool feed(QByteArrayView bytes, const std::function<void(const QString&)>& onPiece);
    bool finish(const std::function<void(const QString&)>& onPiece);

    bool ended() const { return m_ended; }
    qsizetype bufferedBytes() const { return m_splitter.bufferedBytes(); }

private:
    bool handle(QByteArrayView line, const std::function<void(const QString&)>& onPiece);

    LineSplitter m_splitter;
    bool m_ended = false;
};

} // namespace quill
