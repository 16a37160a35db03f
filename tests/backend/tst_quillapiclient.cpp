#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "platform/SettingsStore.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QScopeGuard>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslServer>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace quill;
using namespace quill::test;

namespace {

const QString tokenItem = QStringLiteral("app.quillpoint.Quillpoint/quillpoint_auth_token");

// A client wired to a loopback server, a token in a fake keyring and settings in memory.
struct Rig {
    explicit Rig(int idleTimeoutMs = QuillAPIClient::defaultIdleTimeoutMs) {
        settings.setValue(QuillAPIClient::baseURLOverrideKey, server.baseUrl());
        client = std::make_unique<QuillAPIClient>([this] { return token; }, [this] { return model; },
                                                  settings, &network, idleTimeoutMs);
    }

    std::optional<QString> token = QStringLiteral("device-box-1234ABCD");
    MemorySettingsStore settings;
    QString model = QStringLiteral("gpt-5.2");
    TestHttpServer server;
    QNetworkAccessManager network;
    std::unique_ptr<QuillAPIClient> client;
};

struct StreamLog {
    QStringList pieces;
    QList<std::optional<APIError>> ends;
    bool piecesAfterEnd = false;

    void watch(ExplanationStream& stream) {
        QObject::connect(&stream, &ExplanationStream::pieceReceived, [this](const QString& piece) {
            piecesAfterEnd = piecesAfterEnd || !ends.isEmpty();
            pieces.append(piece);
        });
        QObject::connect(&stream, &ExplanationStream::finished,
                         [this](const std::optional<APIError>& error) { ends.append(error); });
    }
    QString endMessage() const { return ends.value(0) ? ends.value(0)->message() : QString(); }
};

QByteArray sse(const QByteArray& content) {
    return "data: {\"choices\":[{\"delta\":{\"content\":\"" + content + "\"}}]}\n\n";
}

std::optional<TranscriptionResult> transcribe(Rig& rig, const QByteArray& audio, const QString& language = {},
                                              const QString& prompt = {}) {
    std::optional<TranscriptionResult> result;
    QObject context;
    rig.client->transcribe(
        audio, &context, [&](const TranscriptionResult& r) { result = r; }, language, prompt);
    if (!QTest::qWaitFor([&] { return result.has_value(); }, 10'000))
        return std::nullopt;
    return result;
}

// An HTTPS server, with a certificate made for the test, that answers every request with a
// temporary redirect to `location`.
class TlsRedirector {
public:
    explicit TlsRedirector(const QByteArray& location) : m_location(location) {
        QProcess openssl;
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                       "-days", "1", "-subj", "/CN=127.0.0.1", "-keyout", m_dir.filePath("key.pem"), "-out",
                       m_dir.filePath("cert.pem")});
        openssl.waitForFinished(20'000);
        QFile cert(m_dir.filePath("cert.pem"));
        QFile key(m_dir.filePath("key.pem"));
        cert.open(QIODevice::ReadOnly);
        key.open(QIODevice::ReadOnly);
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificate(QSslCertificate(cert.readAll()));
        config.setPrivateKey(QSslKey(key.readAll(), QSsl::Ec));
        m_server.setSslConfiguration(config);
        QObject::connect(&m_server, &QTcpServer::pendingConnectionAvailable, [this] { accept(); });
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    // False when the certificate could not be made (the openssl tool is missing).
    bool isReady() const {
        return m_server.isListening() && !m_server.sslConfiguration().privateKey().isNull();
    }
    QString baseUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_server.serverPort()); }
    int requests = 0;

private:
    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto received = std::make_shared<QByteArray>();
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, received] {
                *received += socket->readAll();
                const qsizetype headEnd = received->indexOf("\r\n\r\n");
                if (headEnd < 0)
                    return;
                const QByteArray head = received->left(headEnd).toLower();
                const qsizetype at = head.indexOf("content-length:");
                const qsizetype length =
                    at < 0 ? 0 : head.mid(at + 15, head.indexOf('\r', at) - at - 15).trimmed().toLongLong();
                if (received->size() < headEnd + 4 + length)
                    return;
                ++requests;
                received->clear();
                socket->write("HTTP/1.1 307 Temporary Redirect\r\nLocation: " + m_location +
                              "\r\nContent-Length: 0\r\n\r\n");
            });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    QTemporaryDir m_dir;
    QSslServer m_server;
    QByteArray m_location;
};

quint16 closedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace

class TestQuillAPIClient : public QObject {
    Q_OBJECT
private slots:
    void errorMessages_data();
    void errorMessages();
    void baseUrl_data();
    void baseUrl();
    void explainSendsExactBytes_data();
    void explainSendsExactBytes();
    void transcribeSendsTheRawAudio();
    void transcribeSendsLanguageAndWordsEncoded();
    void noTokenMeansNoTraffic();
    void tokenComesFromTheSignInNotFromTheKeyring();
    void unparsableOverrideIsInvalidURL();
    void streamOutcomes_data();
    void streamOutcomes();
    void piecesArriveWhileTheServerIsStillWriting();
    void endMarkerStopsReading();
    void consumerLeavingDoesNotCancelTheRequest();
    void refusedConnectionEndsTheStream();
    void answerDuringTheHandOverReachesTheStream();
    void emptyStreamEndsOnTheNextTurn();
    void idleTimeoutIsAboutSilenceNotLength();
    void transcriptionReplies_data();
    void transcriptionReplies();
    void transcriptionForAGoneCallerIsDropped();
    void transcriptionTransportErrorsPassThrough();
    void redirectsAreFollowedAlikeButNeverToPlainHttp();
};

void TestQuillAPIClient::errorMessages_data() {
    QTest::addColumn<APIError>("error");
    QTest::addColumn<QString>("message");
    QTest::newRow("invalidURL") << APIError::invalidURL("ht tp://x/api/explain")
                                << "Invalid API URL: ht tp://x/api/explain";
    QTest::newRow("networkError, cannot connect")
        << APIError::networkError({QNetworkReply::ConnectionRefusedError, "Connection refused"})
        << "Cannot connect to server. Is the backend running?";
    QTest::newRow("networkError, other")
        << APIError::networkError({QNetworkReply::HostNotFoundError, "Host example.invalid not found"})
        << "Network error: Host example.invalid not found";
    QTest::newRow("serverError") << APIError::serverError(503) << "Server error: 503";
    QTest::newRow("serverError, negative") << APIError::serverError(-1) << "Server error: -1";
    QTest::newRow("notAuthenticated") << APIError::notAuthenticated() << "Please sign in to continue";
    QTest::newRow("rateLimited") << APIError::rateLimited() << "Daily limit reached. Try again tomorrow.";
    QTest::newRow("connectionRefused") << APIError::connectionRefused()
                                       << "Connection refused. Start the backend: cd backend && npm run dev";
}

void TestQuillAPIClient::errorMessages() {
    QFETCH(APIError, error);
    QFETCH(QString, message);
    QCOMPARE(error.message(), message);
}

void TestQuillAPIClient::baseUrl_data() {
    QTest::addColumn<std::optional<QString>>("override");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absent") << std::optional<QString>() << QuillAPIClient::builtInBaseURL();
    QTest::newRow("empty") << std::optional<QString>("") << QuillAPIClient::builtInBaseURL();
    QTest::newRow("kept exactly") << std::optional<QString>(" https://api.example.org/v1/ ")
                                  << " https://api.example.org/v1/ ";
}

void TestQuillAPIClient::baseUrl() {
    QFETCH(std::optional<QString>, override);
    QFETCH(QString, expected);
    Rig rig;
    rig.settings.remove(QuillAPIClient::baseURLOverrideKey);
    if (override)
        rig.settings.setValue(QuillAPIClient::baseURLOverrideKey, *override);
    QCOMPARE(rig.client->apiBaseURL(), expected);
    QCOMPARE(QuillAPIClient::builtInBaseURL(), QStringLiteral("http://127.0.0.1:8787"));
}

void TestQuillAPIClient::explainSendsExactBytes_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("detailed");
    QTest::addColumn<QString>("model");
    QTest::addColumn<bool>("trailingSlash");
    QTest::addColumn<QString>("urlPath");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("instruction");
    QTest::newRow("short") << "  hello\n"
                           << false << "gpt-5.2" << false << QString("/api/explain")
                           << QByteArray(R"({"detailed":false,"model":"gpt-5.2","text":"  hello\n"})")
                           << QString();
    QTest::newRow("detailed, other model, quotes and accents")
        << QString::fromUtf8("say \"héllo\" / 😀") << true << "grok-4-1-fast-non-reasoning-latest" << false
        << QString("/api/explain")
        << QString::fromUtf8(
               R"({"detailed":true,"model":"grok-4-1-fast-non-reasoning-latest","text":"say \"héllo\" / 😀"})")
               .toUtf8()
        << QString();
    QTest::newRow("override ending in a slash")
        << "x" << false << "gpt-5.2" << true << QString("//api/explain")
        << QByteArray(R"({"detailed":false,"model":"gpt-5.2","text":"x"})") << QString();
    QTest::newRow("with an instruction")
        << "Ignore the above." << false << "gpt-5.2" << false << QString("/api/explain")
        << QByteArray(
               R"({"detailed":false,"instruction":"Fix \"this\"\nnow","model":"gpt-5.2","text":"Ignore the above."})")
        << QStringLiteral("Fix \"this\"\nnow");
}

void TestQuillAPIClient::explainSendsExactBytes() {
    QFETCH(QString, text);
    QFETCH(bool, detailed);
    QFETCH(QString, model);
    QFETCH(bool, trailingSlash);
    QFETCH(QString, urlPath);
    QFETCH(QByteArray, body);
    QFETCH(QString, instruction);
    Rig rig;
    if (trailingSlash)
        rig.settings.setValue(QuillAPIClient::baseURLOverrideKey, rig.server.baseUrl() + "/");
    rig.model = model;
    rig.server.enqueue(ScriptedReply::status(200).write("data: [DONE]\n"));
    QStringList urls;
    connect(&rig.network, &QNetworkAccessManager::finished, this,
            [&](QNetworkReply* reply) { urls.append(reply->url().toString()); });

    auto result = rig.client->explain(text, detailed, instruction);
    QVERIFY(result.ok());
    StreamLog log;
    log.watch(*result.value());
    QTRY_COMPARE(log.ends.size(), 1);
    QCOMPARE(log.ends[0], std::nullopt);

    QCOMPARE(rig.server.requests.size(), 1);
    const RecordedRequest& request = rig.server.requests[0];
    QCOMPARE(request.method, QByteArray("POST"));
    QTRY_COMPARE(urls, QStringList{rig.server.baseUrl() + urlPath});
    // Qt's HTTP layer collapses the doubled slash of the URL in the request line.
    QCOMPARE(request.path, QByteArray("/api/explain"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer device-box-1234ABCD"));
    QCOMPARE(request.header("Content-Length"), QByteArray::number(body.size()));
    QCOMPARE(request.body, body);
}

void TestQuillAPIClient::transcribeSendsTheRawAudio() {
    Rig rig;
    rig.server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"ok"})"));
    QByteArray audio("\0\0\0\x18"
                     "ftypM4A \0\0\0\0",
                     16);
    audio += QByteArray(70'000, '\xA5');
    const auto result = transcribe(rig, audio);
    QVERIFY(result && result->ok());
    QCOMPARE(result->value(), QStringLiteral("ok"));
    QCOMPARE(rig.server.requests.size(), 1);
    const RecordedRequest& request = rig.server.requests[0];
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.path, QByteArray("/api/transcribe"));
    QCOMPARE(request.header("Content-Type"), QByteArray("audio/mp4"));
    QCOMPARE(request.header("Authorization"), QByteArray("Bearer device-box-1234ABCD"));
    QCOMPARE(request.body, audio);
}

void TestQuillAPIClient::transcribeSendsLanguageAndWordsEncoded() {
    Rig rig;
    for (int i = 0; i < 3; ++i)
        rig.server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"ok"})"));
    // "+" must not arrive as a space, nor "&" and "=" split the query.
    QVERIFY(transcribe(rig, "audio", "de", "C++, AT&T = 100%\nMüller #1")->ok());
    QVERIFY(transcribe(rig, "audio", {}, "Kubernetes")->ok());
    QVERIFY(transcribe(rig, "audio", "fr", {})->ok());
    QCOMPARE(rig.server.requests.size(), 3);
    QCOMPARE(
        rig.server.requests[0].path,
        QByteArray(
            "/api/transcribe?language=de&prompt=C%2B%2B%2C%20AT%26T%20%3D%20100%25%0AM%C3%BCller%20%231"));
    QCOMPARE(rig.server.requests[1].path, QByteArray("/api/transcribe?prompt=Kubernetes"));
    QCOMPARE(rig.server.requests[2].path, QByteArray("/api/transcribe?language=fr"));
}

void TestQuillAPIClient::tokenComesFromTheSignInNotFromTheKeyring() {
    // The keyring is read once, at sign-in: a request must never wait for it on the main thread
    // (it may be locked, or slow to answer). Signing out takes the token from the next request.
    FakeSecretStore secrets;
    secrets.items.insert(tokenItem, "device-box-1234ABCD");
    const FakeHostInfo host(QStringLiteral("box"));
    AuthService auth(KeychainHelper(secrets), host, 60'000);
    QVERIFY(auth.isAuthenticated());
    Rig rig;
    rig.client = std::make_unique<QuillAPIClient>([&auth] { return auth.bearerToken(); },
                                                  [] { return QString(); }, rig.settings, &rig.network);
    rig.server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"ok"})"));
    secrets.failLookups = true;
    const int lookups = secrets.lookupCalls;
    QVERIFY(transcribe(rig, "audio")->ok());
    QCOMPARE(secrets.lookupCalls, lookups);
    QCOMPARE(rig.server.requests.constFirst().header("Authorization"),
             QByteArray("Bearer device-box-1234ABCD"));

    auth.signOut();
    const auto explained = rig.client->explain("text", false);
    QVERIFY(!explained.ok());
    QCOMPARE(explained.error().message(), QStringLiteral("Please sign in to continue"));
    QCOMPARE(rig.server.requests.size(), 1);
}

void TestQuillAPIClient::noTokenMeansNoTraffic() {
    Rig rig;
    rig.token.reset();
    auto explained = rig.client->explain("text", false);
    QVERIFY(!explained.ok());
    QCOMPARE(explained.error().message(), QStringLiteral("Please sign in to continue"));

    bool calledInside = true;
    std::optional<TranscriptionResult> transcribed;
    QObject context;
    rig.client->transcribe("audio", &context, [&](const TranscriptionResult& r) { transcribed = r; });
    calledInside = transcribed.has_value();
    QTRY_VERIFY(transcribed.has_value());
    QVERIFY(!calledInside);
    QVERIFY(!transcribed->ok());
    QCOMPARE(transcribed->error().message(), QStringLiteral("Please sign in to continue"));
    QTest::qWait(50);
    QCOMPARE(rig.server.requests.size(), 0);
}

void TestQuillAPIClient::unparsableOverrideIsInvalidURL() {
    Rig rig;
    rig.settings.setValue(QuillAPIClient::baseURLOverrideKey, "http://exa mple.com");
    auto explained = rig.client->explain("text", false);
    QVERIFY(!explained.ok());
    QCOMPARE(explained.error().message(), QStringLiteral("Invalid API URL: http://exa mple.com/api/explain"));
    const auto transcribed = transcribe(rig, "audio");
    QVERIFY(transcribed && !transcribed->ok());
    QCOMPARE(transcribed->error().message(),
             QStringLiteral("Invalid API URL: http://exa mple.com/api/transcribe"));
}

void TestQuillAPIClient::streamOutcomes_data() {
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("error");
    const auto ok = [] { return ScriptedReply::status(200); };

    QTest::newRow("pieces then end marker")
        << ok().write(sse("Hel")).write(sse("lo")).write("data: [DONE]\n\n") << QStringList{"Hel", "lo"}
        << "";
    QTest::newRow("body ends without end marker")
        << ok().write(sse("a")).write("data:[DONE]\n").write("data: [DONE] \n").write(sse("b"))
        << QStringList{"a", "b"} << "";
    QTest::newRow("CRLF split between reads")
        << ok().write(sse("a").chopped(2) + "\r").pause(30).write("\n\r\n").write(sse("b"))
        << QStringList{"a", "b"} << "";
    QTest::newRow("character split between reads")
        << ok().write("data: {\"choices\":[{\"delta\":{\"content\":\"caf\xC3")
               .pause(30)
               .write("\xA9 \xF0\x9F")
               .pause(30)
               .write("\x98\x80\"}}]}\n")
        << QStringList{QString::fromUtf8("café 😀")} << "";
    QTest::newRow("chunked transfer encoding")
        << ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                              "Transfer-Encoding: chunked\r\n\r\n")
               .write("5\r\ndata:\r\n")
               .pause(30)
               .write(QByteArray::number(sse("x").size() - 5, 16) + "\r\n" + sse("x").mid(5) + "\r\n")
               .write("0\r\n\r\n")
        << QStringList{"x"} << "";
    QTest::newRow("401 before any piece")
        << ScriptedReply::status(401).write(sse("no")) << QStringList{} << "Please sign in to continue";
    QTest::newRow("429") << ScriptedReply::status(429) << QStringList{}
                         << "Daily limit reached. Try again tomorrow.";
    QTest::newRow("403") << ScriptedReply::status(403).write(sse("no")) << QStringList{}
                         << "Server error: 403";
    QTest::newRow("500") << ScriptedReply::status(500) << QStringList{} << "Server error: 500";
    QTest::newRow("status decided on the head")
        << ScriptedReply::status(429).stall() << QStringList{} << "Daily limit reached. Try again tomorrow.";
    // Qt drops a connection that does not answer in HTTP, the same as one closed before the head.
    QTest::newRow("not HTTP") << ScriptedReply::raw("SSH-2.0-OpenSSH_9.2\r\n").stall() << QStringList{}
                              << "Connection refused. Start the backend: cd backend && npm run dev";
    const QString dropped =
        QStringLiteral("Connection refused. Start the backend: cd backend && npm run dev");
    const auto chunked = [] {
        return ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                  "Transfer-Encoding: chunked\r\n\r\n")
            .write(QByteArray::number(sse("Hel").size(), 16) + "\r\n" + sse("Hel") + "\r\n");
    };
    // Only a clean close ends a body whose length was never declared; anything else is a drop.
    QTest::newRow("reset mid-body without a declared length")
        << ok().write(sse("Hel") + "data: {\"choi").pause(30).reset() << QStringList{"Hel"} << dropped;
    QTest::newRow("chunked body closed before its last chunk")
        << chunked().pause(30).drop() << QStringList{"Hel"} << dropped;
    QTest::newRow("chunked body reset") << chunked().pause(30).reset() << QStringList{"Hel"} << dropped;
    QTest::newRow("declared length reset")
        << ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
               .write(sse("Hel"))
               .pause(30)
               .reset()
        << QStringList{"Hel"} << dropped;
    QTest::newRow("connection dropped mid-body")
        << ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n")
               .write(sse("Hel") + "data: {\"choi")
               .pause(30)
               .drop()
        << QStringList{"Hel"} << "Connection refused. Start the backend: cd backend && npm run dev";
}

void TestQuillAPIClient::streamOutcomes() {
    QFETCH(ScriptedReply, reply);
    QFETCH(QStringList, pieces);
    QFETCH(QString, error);
    Rig rig(2'000);
    for (int i = 0; i < 4; ++i)
        rig.server.enqueue(reply);
    auto result = rig.client->explain("text", false);
    QVERIFY(result.ok());
    StreamLog log;
    log.watch(*result.value());
    QTRY_COMPARE(log.ends.size(), 1);
    QCOMPARE(log.pieces, pieces);
    // Qt's socket layer reads a reset as the end of the data, the same as a clean close, and a
    // body without a declared length ends with the connection, so Qt reports both as complete.
    QEXPECT_FAIL("reset mid-body without a declared length", "Qt cannot tell a reset from a close", Continue);
    QCOMPARE(log.endMessage(), error);
    QTest::qWait(30);
    QCOMPARE(log.ends.size(), 1);
    QVERIFY(!log.piecesAfterEnd);
}

void TestQuillAPIClient::piecesArriveWhileTheServerIsStillWriting() {
    Rig rig;
    rig.server.enqueue(ScriptedReply::status(200).write(sse("first")).stall());
    auto result = rig.client->explain("text", false);
    StreamLog log;
    log.watch(*result.value());
    QTRY_COMPARE(log.pieces, QStringList{"first"});
    QVERIFY(log.ends.isEmpty());
}

void TestQuillAPIClient::endMarkerStopsReading() {
    Rig rig;
    rig.server.enqueue(
        ScriptedReply::status(200).write(sse("a") + "data: [DONE]\n").pause(200).write(sse("late")).stall());
    auto result = rig.client->explain("text", false);
    StreamLog log;
    log.watch(*result.value());
    QTRY_COMPARE(log.ends.size(), 1);
    QCOMPARE(log.ends[0], std::nullopt);
    QTRY_COMPARE(rig.server.clientClosedEarly, 1);
    QCOMPARE(log.pieces, QStringList{"a"});
}

void TestQuillAPIClient::consumerLeavingDoesNotCancelTheRequest() {
    Rig rig;
    rig.server.enqueue(ScriptedReply::status(200).write(sse("a")).pause(150).write(sse("b")).pause(150).write(
        "data: [DONE]\n"));
    QList<QNetworkReply::NetworkError> replyErrors;
    connect(&rig.network, &QNetworkAccessManager::finished, this,
            [&](QNetworkReply* reply) { replyErrors.append(reply->error()); });
    auto result = rig.client->explain("text", false);
    QPointer<ExplanationStream> stream = result.value().release();
    connect(stream, &ExplanationStream::pieceReceived, stream, &QObject::deleteLater);
    QTRY_VERIFY(stream.isNull());
    QTRY_COMPARE(rig.server.scriptsCompleted, 1);
    QTRY_COMPARE(replyErrors.size(), 1);
    QCOMPARE(rig.server.clientClosedEarly, 0);
}

void TestQuillAPIClient::refusedConnectionEndsTheStream() {
    Rig rig;
    rig.settings.setValue(QuillAPIClient::baseURLOverrideKey,
                          QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    auto result = rig.client->explain("text", false);
    StreamLog log;
    log.watch(*result.value());
    QTRY_COMPARE(log.ends.size(), 1);
    QCOMPARE(log.endMessage(),
             QStringLiteral("Connection refused. Start the backend: cd backend && npm run dev"));
}

void TestQuillAPIClient::answerDuringTheHandOverReachesTheStream() {
    // A server on a thread of its own answers the moment the request arrives, often while
    // explain() still waits for the body to be taken: what the reply reported by then must reach
    // a caller that connects to the stream only after explain() returns.
    const int listening = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    QVERIFY(::bind(listening, reinterpret_cast<sockaddr*>(&address), length) == 0);
    QVERIFY(::listen(listening, 16) == 0);
    QVERIFY(::getsockname(listening, reinterpret_cast<sockaddr*>(&address), &length) == 0);
    constexpr int exchanges = 20;
    std::thread server([listening] {
        const QByteArray body = sse("Hello") + "data: [DONE]\n\n";
        const QByteArray answer = "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
        for (int i = 0; i < exchanges; ++i) {
            const int connection = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (connection < 0)
                return;
            std::array<char, 4096> request{};
            (void)::recv(connection, request.data(), request.size(), 0);
            (void)::send(connection, answer.constData(), static_cast<size_t>(answer.size()), MSG_NOSIGNAL);
            ::close(connection);
        }
    });
    // A failed check returns early: the server must not be left waiting for a connection.
    const auto stopServer = qScopeGuard([&] {
        ::shutdown(listening, SHUT_RDWR);
        server.join();
        ::close(listening);
    });
    Rig rig;
    rig.settings.setValue(QuillAPIClient::baseURLOverrideKey,
                          QStringLiteral("http://127.0.0.1:%1").arg(ntohs(address.sin_port)));
    for (int i = 0; i < exchanges; ++i) {
        auto result = rig.client->explain("text", false);
        QVERIFY(result.ok());
        StreamLog log;
        log.watch(*result.value());
        QTRY_COMPARE(log.ends.size(), 1);
        QCOMPARE(log.ends[0], std::nullopt);
        QCOMPARE(log.pieces, QStringList{"Hello"});
    }
}

void TestQuillAPIClient::emptyStreamEndsOnTheNextTurn() {
    const auto stream = ExplanationStream::empty();
    StreamLog log;
    log.watch(*stream);
    QVERIFY(log.ends.isEmpty());
    QTRY_COMPARE(log.ends.size(), 1);
    QCOMPARE(log.ends[0], std::nullopt);
    QVERIFY(log.pieces.isEmpty());
}

void TestQuillAPIClient::idleTimeoutIsAboutSilenceNotLength() {
    Rig rig(400);
    ScriptedReply slow = ScriptedReply::status(200);
    for (int i = 0; i < 6; ++i)
        slow.write(sse(QByteArray::number(i))).pause(150);
    rig.server.enqueue(slow);
    rig.server.enqueue(ScriptedReply::status(200).write(sse("a")).stall());

    auto first = rig.client->explain("text", false);
    StreamLog slowLog;
    slowLog.watch(*first.value());
    QTRY_COMPARE_WITH_TIMEOUT(slowLog.ends.size(), 1, 5000);
    QCOMPARE(slowLog.ends[0], std::nullopt);
    QCOMPARE(slowLog.pieces.size(), 6);

    auto second = rig.client->explain("text", false);
    StreamLog stalledLog;
    stalledLog.watch(*second.value());
    QTRY_COMPARE_WITH_TIMEOUT(stalledLog.ends.size(), 1, 5000);
    QCOMPARE(stalledLog.pieces, QStringList{"a"});
    QVERIFY(stalledLog.ends[0].has_value());
    QCOMPARE(stalledLog.ends[0]->kind(), APIError::Kind::networkError);
    QCOMPARE(stalledLog.endMessage(), QStringLiteral("Network error: The request timed out."));
}

void TestQuillAPIClient::transcriptionReplies_data() {
    QTest::addColumn<ScriptedReply>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    const auto json = [](const QByteArray& body) {
        return ScriptedReply::status(200, "application/json").write(body);
    };
    QTest::newRow("text") << json(R"({"text":"Hello there.","duration":2})") << true << "Hello there.";
    QTest::newRow("empty text") << json(R"({"text":""})") << true << "";
    QTest::newRow("no text") << json(R"({"result":"x"})") << false << "Server error: 200";
    QTest::newRow("text not a string") << json(R"({"text":null})") << false << "Server error: 200";
    QTest::newRow("array") << json(R"(["text"])") << false << "Server error: 200";
    QTest::newRow("not JSON") << json("Hello there.") << false << "Server error: 200";
    QTest::newRow("over 10 MiB") << json("{\"text\":\"" + QByteArray(qsizetype(10) * 1024 * 1024, 'a') +
                                         "\"}")
                                 << false << "Server error: 200";
    QTest::newRow("401") << ScriptedReply::status(401) << false << "Please sign in to continue";
    QTest::newRow("429") << ScriptedReply::status(429) << false << "Daily limit reached. Try again tomorrow.";
    QTest::newRow("500 with a text body")
        << ScriptedReply::status(500).write(R"({"text":"x"})") << false << "Server error: 500";
}

void TestQuillAPIClient::transcriptionReplies() {
    QFETCH(ScriptedReply, reply);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    Rig rig;
    rig.server.enqueue(reply);
    const auto result = transcribe(rig, "audio");
    QVERIFY(result.has_value());
    QCOMPARE(result->ok(), ok);
    QCOMPARE(ok ? result->value() : result->error().message(), text);
    if (!ok)
        QVERIFY(result->error().isAPIError());
}

void TestQuillAPIClient::transcriptionForAGoneCallerIsDropped() {
    Rig rig;
    rig.server.enqueue(ScriptedReply::status(200, "application/json").pause(100).write(R"({"text":"x"})"));
    bool called = false;
    {
        QObject context;
        rig.client->transcribe("audio", &context, [&](const TranscriptionResult&) { called = true; });
    }
    QTRY_COMPARE(rig.server.scriptsCompleted, 1);
    QTest::qWait(50);
    QVERIFY(!called);
}

void TestQuillAPIClient::transcriptionTransportErrorsPassThrough() {
    Rig rig;
    rig.server.enqueue(
        ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"text\":").pause(30).drop());
    const auto dropped = transcribe(rig, "audio");
    QVERIFY(dropped && !dropped->ok());
    QVERIFY(!dropped->error().isAPIError());
    QCOMPARE(dropped->error().transportError().code, int(QNetworkReply::RemoteHostClosedError));

    for (int i = 0; i < 4; ++i)
        rig.server.enqueue(ScriptedReply::raw("SSH-2.0-OpenSSH_9.2\r\n"));
    const auto notHttp = transcribe(rig, "audio");
    QVERIFY(notHttp && !notHttp->ok());
    QVERIFY(!notHttp->error().isAPIError());
    QCOMPARE(notHttp->error().message(), QStringLiteral("Connection closed"));

    rig.settings.setValue(QuillAPIClient::baseURLOverrideKey,
                          QStringLiteral("http://127.0.0.1:%1").arg(closedPort()));
    const auto refused = transcribe(rig, "audio");
    QVERIFY(refused && !refused->ok());
    QVERIFY(!refused->error().isAPIError());
    QCOMPARE(refused->error().transportError().code, int(QNetworkReply::ConnectionRefusedError));
    QCOMPARE(refused->error().message(), QStringLiteral("Connection refused"));
}

void TestQuillAPIClient::redirectsAreFollowedAlikeButNeverToPlainHttp() {
    Rig rig;
    const QByteArray base = rig.server.baseUrl().toUtf8();
    const auto redirect = [&](int code, const QByteArray& path) {
        return ScriptedReply::raw("HTTP/1.1 " + QByteArray::number(code) + " Moved\r\nLocation: " + base +
                                  path + "\r\nContent-Length: 0\r\n\r\n");
    };
    rig.server.enqueue(redirect(307, "/moved/explain"));
    rig.server.enqueue(ScriptedReply::status(200).write(sse("Hi")).write("data: [DONE]\n\n"));
    auto result = rig.client->explain("text", false);
    StreamLog log;
    log.watch(*result.value());
    QTRY_COMPARE(log.ends.size(), 1);
    QCOMPARE(log.endMessage(), QString());
    QCOMPARE(log.pieces, QStringList{"Hi"});

    rig.server.enqueue(redirect(308, "/moved/transcribe"));
    rig.server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"Hello"})"));
    const auto transcribed = transcribe(rig, "audio");
    QVERIFY(transcribed && transcribed->ok());
    QCOMPARE(transcribed->value(), QStringLiteral("Hello"));

    QCOMPARE(rig.server.requests.size(), 4);
    QCOMPARE(rig.server.requests[1].path, QByteArray("/moved/explain"));
    QCOMPARE(rig.server.requests[3].path, QByteArray("/moved/transcribe"));
    for (int i : {1, 3}) {
        const RecordedRequest& original = rig.server.requests[i - 1];
        const RecordedRequest& followed = rig.server.requests[i];
        QCOMPARE(followed.method, QByteArray("POST"));
        QCOMPARE(followed.body, original.body);
        QCOMPARE(followed.header("Content-Type"), original.header("Content-Type"));
        QCOMPARE(followed.header("Authorization"), original.header("Authorization"));
    }

    // From HTTPS to plain HTTP neither follows, and nothing reaches the plain server.
    TlsRedirector secure(base + "/api/explain");
    QVERIFY2(secure.isReady(), "no certificate for the HTTPS server: is openssl installed?");
    connect(&rig.network, &QNetworkAccessManager::sslErrors, this,
            [](QNetworkReply* reply) { reply->ignoreSslErrors(); });
    rig.settings.setValue(QuillAPIClient::baseURLOverrideKey, secure.baseUrl());
    auto downgraded = rig.client->explain("text", false);
    StreamLog downgradedLog;
    downgradedLog.watch(*downgraded.value());
    QTRY_COMPARE(downgradedLog.ends.size(), 1);
    QVERIFY(downgradedLog.ends[0].has_value());
    QCOMPARE(downgradedLog.ends[0]->kind(), APIError::Kind::networkError);
    QCOMPARE(downgradedLog.ends[0]->transportError().code, int(QNetworkReply::InsecureRedirectError));
    const auto downgradedUpload = transcribe(rig, "audio");
    QVERIFY(downgradedUpload && !downgradedUpload->ok());
    QCOMPARE(downgradedUpload->error().transportError().code, int(QNetworkReply::InsecureRedirectError));
    QCOMPARE(secure.requests, 2);
    QCOMPARE(rig.server.requests.size(), 4);
}

QTEST_GUILESS_MAIN(TestQuillAPIClient)
#include "tst_quillapiclient.moc"
