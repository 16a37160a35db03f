#include "FakePlatform.h"
#include "platform/SettingsStore.h"
#include "preferences/UpdateService.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

using namespace quill;
using namespace quill::test;
using namespace std::chrono_literals;

namespace {

// A loopback HTTP/1.1 server that answers every request with the reply it was given, or not
// at all when `silent` is set.
class FeedServer : public QObject {
public:
    FeedServer() {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                socket->setParent(this);
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
            }
        });
    }
    bool listen() { return m_server.listen(QHostAddress::LocalHost); }
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path));
    }
    void close() { m_server.close(); }

    QByteArray status = "200 OK";
    QByteArray body;
    qint64 announcedLength = -1; // a Content-Length other than the body's, for oversized replies
    bool silent = false;
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket* socket) {
        m_pending[socket] += socket->readAll();
        if (!m_pending[socket].contains("\r\n\r\n"))
            return;
        requests << m_pending.take(socket);
        if (silent)
            return;
        const qint64 length = announcedLength >= 0 ? announcedLength : body.size();
        socket->write("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                      QByteArray::number(length) + "\r\nConnection: close\r\n\r\n" + body);
        if (announcedLength < 0)
            socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

// Receives the pages the dialog hands to the desktop.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

const QByteArray newerFeed =
    R"({"downloadPage": "https://example.org/get", "versions": [{"version": "0.3.0", "notes": "Faster."}]})";

} // namespace

Q_DECLARE_METATYPE(UpdateCheckResult::Status)

class TestUpdateService : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QVERIFY(server.listen()); }
    void init();
    void fetchesAndReports_data();
    void fetchesAndReports();
    void unreachableServer();
    void dialogShowsProgressThenTheNewVersion();
    void closingTheWindowCancelsTheCheck();
    void feedAddressComesFromTheBuildUnlessOverridden();

private:
    UpdateCheckResult check(UpdateChecker& checker, const QUrl& url);
    FeedServer server;
    QNetworkAccessManager network;
};

void TestUpdateService::init() {
    server.body.clear();
    server.status = "200 OK";
    server.announcedLength = -1;
    server.silent = false;
    server.requests.clear();
}

UpdateCheckResult TestUpdateService::check(UpdateChecker& checker, const QUrl& url) {
    QSignalSpy finished(&checker, &UpdateChecker::finished);
    checker.check(url, QStringLiteral("0.2.0"));
    if (!finished.wait(5000))
        return failedCheck({}, QStringLiteral("no result"));
    // Exactly one result per check, even when the reply is aborted half way.
    QTest::qWait(50);
    if (finished.size() != 1)
        return failedCheck({}, QStringLiteral("%1 results").arg(finished.size()));
    return finished.at(0).at(0).value<UpdateCheckResult>();
}

void TestUpdateService::fetchesAndReports_data() {
    QTest::addColumn<QByteArray>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<qint64>("announcedLength");
    QTest::addColumn<bool>("silent");
    QTest::addColumn<UpdateCheckResult::Status>("outcome");
    QTest::addColumn<QString>("detail"); // latest version, or the error
    using S = UpdateCheckResult::Status;
    QTest::newRow("newer") << QByteArray("200 OK") << newerFeed << qint64(-1) << false << S::updateAvailable
                           << "0.3.0";
    QTest::newRow("same")
        << QByteArray("200 OK")
        << QByteArray(R"({"downloadPage": "https://example.org/get", "versions": [{"version": "0.2.0"}]})")
        << qint64(-1) << false << S::upToDate << "0.2.0";
    QTest::newRow("missing") << QByteArray("404 Not Found") << QByteArray("{}") << qint64(-1) << false
                             << S::failed << "The update server answered with HTTP 404.";
    QTest::newRow("bad JSON") << QByteArray("200 OK") << QByteArray("{\"versions\": [") << qint64(-1) << false
                              << S::failed << "The update feed is not valid JSON";
    QTest::newRow("too large") << QByteArray("200 OK") << QByteArray(qsizetype(64) * 1024, ' ')
                               << qint64(8 << 20) << false << S::failed
                               << "The update feed is larger than 1024 KB.";
    QTest::newRow("no answer") << QByteArray("200 OK") << QByteArray() << qint64(-1) << true << S::failed
                               << "The update server did not answer within 0.3 seconds.";
}

void TestUpdateService::fetchesAndReports() {
    QFETCH(QByteArray, status);
    QFETCH(QByteArray, body);
    QFETCH(qint64, announcedLength);
    QFETCH(bool, silent);
    QFETCH(UpdateCheckResult::Status, outcome);
    QFETCH(QString, detail);
    server.status = status;
    server.body = body;
    server.announcedLength = announcedLength;
    server.silent = silent;
    UpdateChecker checker(network, 300ms);
    const UpdateCheckResult result = check(checker, server.url("/linux/updates.json"));
    QCOMPARE(result.status, outcome);
    if (outcome == UpdateCheckResult::Status::failed)
        QVERIFY2(result.error.startsWith(detail), qPrintable(result.error));
    else
        QCOMPARE(result.latestVersion, detail);
    QCOMPARE(server.requests.size(), 1);
    QVERIFY(server.requests.at(0).startsWith("GET /linux/updates.json HTTP/1.1\r\n"));
    QVERIFY(server.requests.at(0).contains("User-Agent: Quillpoint/"));
}

void TestUpdateService::unreachableServer() {
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/updates.json").arg(closed.serverPort()));
    closed.close();
    UpdateChecker checker(network, 2s);
    const UpdateCheckResult result = check(checker, url);
    QCOMPARE(result.status, UpdateCheckResult::Status::failed);
    QVERIFY2(result.error.startsWith("Could not reach the update server: "), qPrintable(result.error));

    const UpdateCheckResult unset = check(checker, QUrl());
    QVERIFY2(unset.error.startsWith("No valid update feed address is configured"), qPrintable(unset.error));
}

void TestUpdateService::dialogShowsProgressThenTheNewVersion() {
    server.body = newerFeed;
    UpdateService service(network, server.url("/updates.json"), QStringLiteral("0.2.0"), 2s);
    QSignalSpy finished(&service, &UpdateService::checkFinished);
    LogCapture log;
    service.checkForUpdates();
    UpdateDialog& dialog = service.dialog();
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.heading(), QStringLiteral("Checking for updates..."));
    QCOMPARE(dialog.closeButton()->text(), QStringLiteral("Cancel"));
    // A second click while checking only brings the window forward.
    service.checkForUpdates();
    QVERIFY(finished.wait(5000));
    QCOMPARE(server.requests.size(), 1);
    QCOMPARE(dialog.heading(), QStringLiteral("A new version of Quillpoint is available!"));
    QCOMPARE(dialog.message(), QStringLiteral("Quillpoint 0.3.0 is now available. You have 0.2.0."));
    QCOMPARE(dialog.notes(), QStringLiteral("Version 0.3.0\nFaster."));
    QVERIFY(dialog.downloadButton()->isVisible());
    QVERIFY(log.lines.contains("UpdateService: Version 0.3.0 is available"));

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("https", &catcher, "open");
    dialog.downloadButton()->click();
    QDesktopServices::unsetUrlHandler("https");
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl("https://example.org/get")});
    QVERIFY(!dialog.isVisible());

    // The next check starts afresh and reports a failure in words.
    server.status = "500 Internal Server Error";
    service.checkForUpdates();
    QVERIFY(finished.wait(5000));
    QCOMPARE(dialog.heading(), QStringLiteral("Update check failed"));
    QCOMPARE(dialog.message(), QStringLiteral("The update server answered with HTTP 500."));
    QVERIFY(!dialog.downloadButton()->isVisible());
    QCOMPARE(dialog.closeButton()->text(), QStringLiteral("OK"));
}

void TestUpdateService::closingTheWindowCancelsTheCheck() {
    server.silent = true;
    UpdateService service(network, server.url("/updates.json"), QStringLiteral("0.2.0"), 500ms);
    QSignalSpy finished(&service, &UpdateService::checkFinished);
    service.checkForUpdates();
    QTRY_COMPARE(server.requests.size(), 1);
    service.dialog().closeButton()->click();
    QVERIFY(!service.dialog().isVisible());
    QTest::qWait(800);
    QCOMPARE(finished.size(), 0);

    server.silent = false;
    server.body = newerFeed;
    service.checkForUpdates();
    QVERIFY(finished.wait(5000));
    QCOMPARE(finished.size(), 1);
}

void TestUpdateService::feedAddressComesFromTheBuildUnlessOverridden() {
    MemorySettingsStore settings;
    QCOMPARE(UpdateService::feedUrl(settings), UpdateService::builtInFeedUrl());
    QVERIFY(UpdateService::builtInFeedUrl().isValid());
    settings.setValue(UpdateService::feedUrlOverrideKey, QStringLiteral("  "));
    QCOMPARE(UpdateService::feedUrl(settings), UpdateService::builtInFeedUrl());
    settings.setValue(UpdateService::feedUrlOverrideKey, QStringLiteral("http://127.0.0.1:9/feed.json"));
    QCOMPARE(UpdateService::feedUrl(settings), QUrl("http://127.0.0.1:9/feed.json"));
}

QTEST_MAIN(TestUpdateService)
#include "tst_updateservice.moc"
