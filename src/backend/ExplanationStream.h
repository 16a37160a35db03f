#pragma once

#include "APIError.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

class QNetworkAccessManager;
class QNetworkRequest;

namespace quill {

class ExplanationStreamProducer;

// The text pieces of one explanation, in arrival order, handed out on the main thread as soon
// as each line of the reply is complete.
//
// Connect to the signals right after receiving the stream, in the same event-loop turn: nothing
// is emitted before control returns to the event loop. `pieceReceived` fires once per piece
// (possibly an empty string), then `finished` fires exactly once: with no error for a normal
// end, or with the APIError that ended the stream. Nothing is emitted after `finished`.
//
// The stream is only the consumer's end. Destroying it (also from inside a slot, preferably
// with deleteLater) does not cancel the request: the reply is still read to its end and the
// pieces are dropped; `cancel()` stops it. A stream outliving its QuillAPIClient's network
// manager never finishes.
class ExplanationStream : public QObject {
    Q_OBJECT
public:
    ~ExplanationStream() override;

    // A stream that ends normally without pieces once control returns to the event loop; for
    // callers that have no client to ask.
    static std::unique_ptr<ExplanationStream> empty();

    bool isFinished() const { return m_finished; }

    // Aborts the request; nothing is emitted afterwards, not even `finished`. Safe from a slot.
    void cancel();

signals:
    void pieceReceived(const QString& piece);
    void finished(const std::optional<quill::APIError>& error);

private:
    friend class ExplanationStreamProducer;
    friend std::unique_ptr<ExplanationStream>
    startExplanationStream(QNetworkAccessManager&, const QNetworkRequest&, const QByteArray&);
    ExplanationStream();

    void deliverPiece(const QString& piece);
    void deliverEnd(const std::optional<APIError>& error);

    bool m_finished = false;
    QPointer<ExplanationStreamProducer> m_producer;
};

// Sends the prepared explain request and returns the stream of its reply. The producer that
// reads the reply belongs to `network` and removes itself when the reply has ended.
std::unique_ptr<ExplanationStream> startExplanationStream(QNetworkAccessManager& network,
                                                          const QNetworkRequest& request,
                                                          const QByteArray& body);

} // namespace quill
