#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QObject>
#include <deque>
#include <functional>

namespace quill {

// One connection to sway's IPC socket (the i3 IPC protocol: a magic string, the payload's
// length, the message type, a JSON payload). Requests are answered in the order they were sent,
// so each reply goes to the handler of the oldest request still waiting; events the connection
// subscribed to carry the high bit in their type and arrive between replies.
class SwayIpcConnection final : public QObject {
    Q_OBJECT
public:
    enum MessageType : quint32 {
        runCommand = 0,
        subscribe = 2,
        getTree = 4,
        getConfig = 9,
    };
    static constexpr quint32 eventBit = 0x80000000U;
    static constexpr quint32 workspaceEvent = eventBit | 0U;
    static constexpr quint32 bindingEvent = eventBit | 5U;

    // Called once with the reply, or with a null document when the connection ends first.
    using ReplyHandler = std::function<void(const QJsonDocument&)>;

    explicit SwayIpcConnection(const QString& socketPath, QObject* parent = nullptr);
    ~SwayIpcConnection() override;

    // Sends at once or, while the connection is still being made, as soon as it is.
    void send(quint32 type, const QByteArray& payload, ReplyHandler onReply = {});
    // Sends and waits at most `timeoutMs` for the reply; a null document when none came. Only
    // where nothing else waits: on a probe's thread, and at the end of the program, when no
    // event loop turns any more and sway drops the commands of a client that hangs up before it
    // has read them.
    QJsonDocument sendAndWait(quint32 type, const QByteArray& payload, int timeoutMs);
    // Waits, in the same places, at most `timeoutMs` for the replies to everything sent so far.
    void waitForReplies(int timeoutMs);
    bool isUsable() const { return m_socket.state() != QLocalSocket::UnconnectedState; }

    static QByteArray frame(quint32 type, const QByteArray& payload);

signals:
    void eventReceived(quint32 type, const QJsonObject& event);

private:
    void onReadyRead();
    void failPending();

    QLocalSocket m_socket;
    QByteArray m_incoming;
    QByteArray m_unsent;
    std::deque<ReplyHandler> m_pending;
};

} // namespace quill
