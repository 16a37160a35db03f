#include "TestHttpServer.h"

#include <QHostAddress>
#include <sys/socket.h>

namespace quill::test {

QByteArray RecordedRequest::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

ScriptedReply ScriptedReply::status(int code, const QByteArray& contentType) {
    ScriptedReply reply;
    reply.write("HTTP/1.1 " + QByteArray::number(code) + " Status\r\nContent-Type: " + contentType +
                "\r\nConnection: close\r\n\r\n");
    return reply;
}

ScriptedReply ScriptedReply::raw(const QByteArray& bytes) {
    ScriptedReply reply;
    reply.write(bytes);
    return reply;
}

ScriptedReply& ScriptedReply::write(const QByteArray& bytes) {
    steps.append({Step::Kind::write, bytes, 0});
    return *this;
}

ScriptedReply& ScriptedReply::pause(int ms) {
    steps.append({Step::Kind::pause, {}, ms});
    return *this;
}

ScriptedReply& ScriptedReply::drop() {
    steps.append({Step::Kind::drop, {}, 0});
    return *this;
}

ScriptedReply& ScriptedReply::reset() {
    steps.append({Step::Kind::reset, {}, 0});
    return *this;
}

ScriptedReply& ScriptedReply::stall() {
    steps.append({Step::Kind::stall, {}, 0});
    return *this;
}

struct TestHttpServer::Connection {
    QTcpSocket* socket = nullptr;
    QByteArray received;
    bool answered = false;
    QList<ScriptedReply::Step> steps;
    bool finished = false;
};

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

QString TestHttpServer::baseUrl() const {
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void TestHttpServer::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        auto connection = std::make_shared<Connection>();
        connection->socket = socket;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this, connection] { readFrom(connection.get()); });
        connect(socket, &QTcpSocket::disconnected, this, [this, connection] {
            if (connection->answered && !connection->finished) {
                connection->finished = true;
                ++clientClosedEarly;
            }
            connection->socket->deleteLater();
        });
    }
}

void TestHttpServer::readFrom(Connection* connection) {
    connection->received += connection->socket->readAll();
    if (connection->answered)
        return;
    const qsizetype headEnd = connection->received.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return;
    const QList<QByteArray> lines = connection->received.left(headEnd).split('\n');
    RecordedRequest request;
    const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype contentLength = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        request.headers.append({line.left(colon), line.mid(colon + 1).trimmed()});
    }
    contentLength = request.header("Content-Length").toLongLong();
    if (connection->received.size() - (headEnd + 4) < contentLength)
        return;
    request.body = connection->received.mid(headEnd + 4, contentLength);
    connection->answered = true;
    if (const auto fixed = m_fixed.constFind(request.path.split('?').constFirst()); fixed != m_fixed.cend()) {
        fixedRequests.append(request);
        connection->steps = fixed->steps;
        runNextStep(connection);
        return;
    }
    requests.append(request);
    connection->steps = m_replies.isEmpty()
                            ? ScriptedReply::status(404, "text/plain").write("not found").steps
                            : m_replies.takeFirst().steps;
    emit requestReceived();
    runNextStep(connection);
}

void TestHttpServer::runNextStep(Connection* connection) {
    if (connection->finished)
        return;
    QTcpSocket* socket = connection->socket;
    while (!connection->steps.isEmpty()) {
        const ScriptedReply::Step step = connection->steps.takeFirst();
        switch (step.kind) {
        case ScriptedReply::Step::Kind::write:
            socket->write(step.bytes);
            socket->flush();
            break;
        case ScriptedReply::Step::Kind::pause:
            QTimer::singleShot(step.ms, socket, [this, connection] { runNextStep(connection); });
            return;
        case ScriptedReply::Step::Kind::drop:
            connection->finished = true;
            ++scriptsCompleted;
            socket->abort();
            return;
        case ScriptedReply::Step::Kind::reset: {
            connection->finished = true;
            ++scriptsCompleted;
            // Lingering for no time turns the close into a reset.
            const linger noLinger{1, 0};
            ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger,
                         sizeof noLinger);
            socket->abort();
            return;
        }
        case ScriptedReply::Step::Kind::stall:
            return;
        }
    }
    connection->finished = true;
    ++scriptsCompleted;
    socket->disconnectFromHost();
}

} // namespace quill::test
