#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace quill::test {

// One request as the server received it.
struct RecordedRequest {
    QByteArray method;
    QByteArray path;
    QList<QPair<QByteArray, QByteArray>> headers; // in the order received, names as sent
    QByteArray body;

    // The value of the first header with this name (case-insensitive); empty when missing.
    QByteArray header(const QByteArray& name) const;
};

// What the server does once it has read a request: steps run in order, each write flushed on
// its own so that the client sees the chosen read boundaries (given pauses between them).
class ScriptedReply {
public:
    // A status line with "Connection: close", so the body runs to the end of the connection.
    static ScriptedReply status(int code, const QByteArray& contentType = "text/event-stream");
    // Raw bytes with nothing added.
    static ScriptedReply raw(const QByteArray& bytes);

    ScriptedReply& write(const QByteArray& bytes);
    ScriptedReply& pause(int ms);
    // Closes the connection at once, mid-body or not (default: closed after the last step).
    ScriptedReply& drop();
    // Resets the connection (TCP RST) instead of closing it.
    ScriptedReply& reset();
    // Keeps the connection open without sending anything more.
    ScriptedReply& stall();

    struct Step {
        enum class Kind { write, pause, drop, reset, stall } kind;
        QByteArray bytes;
        int ms = 0;
    };
    QList<Step> steps;
};

// A small HTTP/1.1 server on a loopback port. Replies are served in the order they were queued,
// one per request; a request with none queued gets 404. A request for a path given its own
// reply gets that reply every time, takes none from the queue and is counted apart.
class TestHttpServer : public QObject {
    Q_OBJECT
public:
    explicit TestHttpServer(QObject* parent = nullptr);

    QString baseUrl() const;
    quint16 port() const { return m_server.serverPort(); }
    void enqueue(ScriptedReply reply) { m_replies.append(std::move(reply)); }
    // Every request whose path (query left out) is `path` gets `reply`, from now on.
    void answer(const QByteArray& path, const ScriptedReply& reply) { m_fixed.insert(path, reply); }

    QList<RecordedRequest> requests;
    // The requests answered by a reply of their path's own.
    QList<RecordedRequest> fixedRequests;
    // Connections the client closed while the server still had steps to run.
    int clientClosedEarly = 0;
    // Connections whose script ran to its end.
    int scriptsCompleted = 0;

signals:
    void requestReceived();

private:
    struct Connection;
    void onNewConnection();
    void readFrom(Connection* connection);
    void runNextStep(Connection* connection);

    QTcpServer m_server;
    QList<ScriptedReply> m_replies;
    QHash<QByteArray, ScriptedReply> m_fixed;
};

} // namespace quill::test
