#include "ExplanationStream.h"

#include "ExplanationDecoder.h"
#include "ReplyStatus.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <thread>

namespace quill {

// The longest the caller waits for the network thread to take the request's body.
constexpr int kHandOverWaitMs = 3;

// Reads one explain reply and feeds its stream. Owned by the network manager, not by the
// stream, so that a consumer going away leaves the reply to run to its end.
class ExplanationStreamProducer : public QObject {
public:
    ExplanationStreamProducer(QNetworkAccessManager& network, const QNetworkRequest& request,
                              const QByteArray& body, ExplanationStream* stream)
        : QObject(&network)
        , m_stream(stream) {
        stream->m_producer = this;
        m_reply = network.post(request, body);
        connect(m_reply, &QNetworkReply::requestSent, this, [this] {
            m_sent = true;
            logLatencyMark("explain request sent");
        });
        connect(m_reply, &QNetworkReply::metaDataChanged, this, [this] {
            if (!heldBack())
                checkHead();
        });
        connect(m_reply, &QNetworkReply::readyRead, this, [this] {
            if (!heldBack())
                readBody();
        });
        connect(m_reply, &QNetworkReply::finished, this, [this] {
            if (!heldBack())
                replyFinished();
        });
        // Other schemes may fail at once, before the caller has connected to the stream.
        const QString scheme = request.url().scheme();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
            handOver();
        logLatencyMark("explain request handed to the network");
    }

    // The consumer gave up: the reply goes, and nothing more reaches the stream.
    void cancel() {
        if (m_ended)
            return;
        m_stream = nullptr;
        release();
    }

private:
    // The reply hands its request to the network thread only on a later turn of the event loop,
    // and the network thread asks for the body through this thread's event loop as well: both
    // would wait behind whatever the caller does next (showing the panel takes several
    // milliseconds). Over a kept-alive or local connection the body is asked for within a
    // millisecond, so it is answered here, waiting a few milliseconds at most; a connection still
    // being made to a distant server takes longer, and the caller's work overlaps it instead.
    // Whatever the reply reports meanwhile is read on the next turn, once the caller has
    // connected to the stream.
    void handOver() {
        m_handingOver = true;
        const QDeadlineTimer deadline(kHandOverWaitMs);
        QCoreApplication::sendPostedEvents(m_reply, QEvent::MetaCall);
        while (!m_sent && !deadline.hasExpired()) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            QCoreApplication::sendPostedEvents(m_reply, QEvent::MetaCall);
        }
        m_handingOver = false;
        if (m_heldBack)
            QTimer::singleShot(0, this, [this] {
                readBody();
                if (!m_ended && m_reply->isFinished())
                    replyFinished();
            });
    }

    bool heldBack() {
        m_heldBack = m_heldBack || m_handingOver;
        return m_handingOver;
    }

    // True once the head has been accepted; ends the stream when the status rule says so. While
    // the reply runs, a redirect is not judged: the network manager is following it.
    bool checkHead(bool replyEnded = false) {
        if (m_headAccepted)
            return true;
        if (m_ended || !hasResponseHead(*m_reply) || (!replyEnded && isRedirect(*m_reply)))
            return false;
        if (const auto error = statusError(*m_reply)) {
            end(error);
            return false;
        }
        m_headAccepted = true;
        return true;
    }

    void readBody() {
        if (!checkHead())
            return;
        const QByteArray bytes = m_reply->readAll();
        if (m_decoder.feed(bytes, [this](const QString& piece) { deliver(piece); }))
            end(std::nullopt);
    }

    void replyFinished() {
        if (m_ended)
            return;
        const auto failure = transportFailure(*m_reply);
        // A redirect the network manager refused to follow ends with that failure.
        const bool refusedRedirect = failure && isRedirect(*m_reply);
        if (!m_headAccepted && !refusedRedirect && (!failure || hasResponseHead(*m_reply))) {
            // The head was never judged: a status without a body, or an answer without a status.
            if (!checkHead(true)) {
                if (!m_ended)
                    end(APIError::serverError(0));
                return;
            }
        }
        // A reply Qt gave up on (the idle timeout) is closed and has nothing left to read.
        if (m_headAccepted && m_reply->isOpen())
            readBody();
        if (m_ended)
            return;
        if (failure) {
            const bool connectionLost = failure->code == QNetworkReply::ConnectionRefusedError ||
                                        failure->code == QNetworkReply::RemoteHostClosedError;
            end(connectionLost ? APIError::connectionRefused() : APIError::networkError(*failure));
            return;
        }
        m_decoder.finish([this](const QString& piece) { deliver(piece); });
        end(std::nullopt);
    }

    void deliver(const QString& piece) {
        if (m_stream)
            m_stream->deliverPiece(piece);
    }

    void end(const std::optional<APIError>& error) {
        const QPointer<ExplanationStream> stream = m_stream;
        release();
        if (stream)
            stream->deliverEnd(error);
    }

    void release() {
        m_ended = true;
        m_reply->disconnect(this);
        // Aborting from inside the reply's own signal upsets Qt when it is still reporting the
        // status as an error; a turn of the event loop later the abort is clean.
        QTimer::singleShot(0, m_reply, [reply = m_reply] {
            if (reply->isRunning())
                reply->abort();
            reply->deleteLater();
        });
        deleteLater();
    }

    QPointer<ExplanationStream> m_stream;
    QNetworkReply* m_reply = nullptr;
    ExplanationDecoder m_decoder;
    bool m_headAccepted = false;
    bool m_ended = false;
    bool m_sent = false;
    bool m_handingOver = false;
    bool m_heldBack = false;
};

ExplanationStream::ExplanationStream() = default;
ExplanationStream::~ExplanationStream() = default;

std::unique_ptr<ExplanationStream> ExplanationStream::empty() {
    std::unique_ptr<ExplanationStream> stream(new ExplanationStream);
    QTimer::singleShot(0, stream.get(), [s = stream.get()] { s->deliverEnd(std::nullopt); });
    return stream;
}

void ExplanationStream::cancel() {
    m_finished = true;
    if (m_producer)
        m_producer->cancel();
}

void ExplanationStream::deliverPiece(const QString& piece) {
    if (!m_finished)
        emit pieceReceived(piece);
}

void ExplanationStream::deliverEnd(const std::optional<APIError>& error) {
    if (m_finished)
        return;
    m_finished = true;
    emit finished(error);
}

std::unique_ptr<ExplanationStream> startExplanationStream(QNetworkAccessManager& network,
                                                          const QNetworkRequest& request,
                                                          const QByteArray& body) {
    std::unique_ptr<ExplanationStream> stream(new ExplanationStream);
    new ExplanationStreamProducer(network, request, body, stream.get());
    return stream;
}

} // namespace quill
