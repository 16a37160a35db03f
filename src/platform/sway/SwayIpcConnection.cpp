#include "SwayIpcConnection.h"

#include <QDeadlineTimer>
#include <cstring>
#include <memory>

namespace quill {
namespace {

constexpr char magic[] = "i3-ipc";
constexpr qsizetype magicSize = sizeof(magic) - 1;
constexpr qsizetype headerSize = magicSize + 8;
// A tree of many windows runs to a few hundred kilobytes; anything far beyond is no reply of sway's.
constexpr quint32 maxPayload = 64U * 1024U * 1024U;

} // namespace

SwayIpcConnection::SwayIpcConnection(const QString& socketPath, QObject* parent) : QObject(parent) {
    connect(&m_socket, &QLocalSocket::connected, this, [this] {
        m_socket.write(m_unsent);
        m_unsent.clear();
    });
    connect(&m_socket, &QLocalSocket::readyRead, this, &SwayIpcConnection::onReadyRead);
    connect(&m_socket, &QLocalSocket::disconnected, this, &SwayIpcConnection::failPending);
    connect(&m_socket, &QLocalSocket::errorOccurred, this, [this](QLocalSocket::LocalSocketError) {
        if (m_socket.state() == QLocalSocket::UnconnectedState)
            failPending();
    });
    m_socket.connectToServer(socketPath);
}

SwayIpcConnection::~SwayIpcConnection() {
    m_socket.disconnect(this);
}

QByteArray SwayIpcConnection::frame(quint32 type, const QByteArray& payload) {
    QByteArray data(magic, magicSize);
    // The header's numbers are in the machine's own byte order.
    const auto size = quint32(payload.size());
    data.append(reinterpret_cast<const char*>(&size), sizeof size);
    data.append(reinterpret_cast<const char*>(&type), sizeof type);
    data.append(payload);
    return data;
}

void SwayIpcConnection::send(quint32 type, const QByteArray& payload, ReplyHandler onReply) {
    if (m_socket.state() == QLocalSocket::UnconnectedState) {
        if (onReply)
            onReply(QJsonDocument());
        return;
    }
    m_pending.push_back(std::move(onReply));
    if (m_socket.state() == QLocalSocket::ConnectedState)
        m_socket.write(frame(type, payload));
    else
        m_unsent.append(frame(type, payload));
}

QJsonDocument SwayIpcConnection::sendAndWait(quint32 type, const QByteArray& payload, int timeoutMs) {
    // The reply may come after this returns, when only the handler still holds the place for it.
    auto answer = std::make_shared<QJsonDocument>();
    send(type, payload, [answer](const QJsonDocument& reply) { *answer = reply; });
    waitForReplies(timeoutMs);
    return *answer;
}

void SwayIpcConnection::waitForReplies(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    if (m_socket.state() == QLocalSocket::ConnectingState)
        m_socket.waitForConnected(int(deadline.remainingTime()));
    while (!m_pending.empty() && m_socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired()) {
        m_socket.flush();
        if (m_socket.waitForReadyRead(int(deadline.remainingTime())))
            onReadyRead();
    }
}

void SwayIpcConnection::onReadyRead() {
    m_incoming.append(m_socket.readAll());
    while (m_incoming.size() >= headerSize) {
        if (std::memcmp(m_incoming.constData(), magic, magicSize) != 0) {
            m_socket.abort();
            return;
        }
        quint32 size = 0;
        quint32 type = 0;
        std::memcpy(&size, m_incoming.constData() + magicSize, sizeof size);
        std::memcpy(&type, m_incoming.constData() + magicSize + sizeof size, sizeof type);
        if (size > maxPayload) {
            m_socket.abort();
            return;
        }
        if (m_incoming.size() < headerSize + qsizetype(size))
            return;
        const QJsonDocument document = QJsonDocument::fromJson(m_incoming.mid(headerSize, size));
        m_incoming.remove(0, headerSize + size);
        if (type & eventBit) {
            emit eventReceived(type, document.object());
        } else if (!m_pending.empty()) {
            ReplyHandler handler = std::move(m_pending.front());
            m_pending.pop_front();
            if (handler)
                handler(document.isNull() ? QJsonDocument(QJsonObject()) : document);
        }
    }
}

void SwayIpcConnection::failPending() {
    auto pending = std::exchange(m_pending, {});
    m_unsent.clear();
    for (auto& handler : pending)
        if (handler)
            handler(QJsonDocument());
}

} // namespace quill
