#include "preferences/UpdateFeed.h"

#include <QTest>

using namespace quill;

Q_DECLARE_METATYPE(UpdateCheckResult::Status)

class TestUpdateFeed : public QObject {
    Q_OBJECT
private slots:
    void comparesVersions_data();
    void comparesVersions();
    void rejectsMalformedVersions_data();
    void rejectsMalformedVersions();
    void evaluatesFeeds_data();
    void evaluatesFeeds();
};

void TestUpdateFeed::comparesVersions_data() {
    QTest::addColumn<QString>("a");
    QTest::addColumn<QString>("b");
    QTest::addColumn<int>("order");
    QTest::newRow("equal") << "1.0.0"
                           << "1.0.0" << 0;
    QTest::newRow("missing parts are zero") << "1.0"
                                            << "1.0.0" << 0;
    QTest::newRow("v prefix") << "v1.2.3"
                              << "1.2.3" << 0;
    QTest::newRow("build metadata ignored") << "1.2.3+build.5"
                                            << "1.2.3" << 0;
    QTest::newRow("numeric, not textual") << "1.10.0"
                                          << "1.9.0" << 1;
    QTest::newRow("major wins") << "2.0.0"
                                << "10.0.0" << -1;
    QTest::newRow("patch") << "0.1.1"
                           << "0.1.0" << 1;
    QTest::newRow("pre-release below release") << "1.0.0-alpha"
                                               << "1.0.0" << -1;
    QTest::newRow("pre-release above previous release") << "1.0.0-alpha"
                                                        << "0.9.9" << 1;
    QTest::newRow("longer pre-release above prefix") << "1.0.0-alpha"
                                                     << "1.0.0-alpha.1" << -1;
    QTest::newRow("numeric below alphanumeric") << "1.0.0-alpha.1"
                                                << "1.0.0-alpha.beta" << -1;
    QTest::newRow("numeric identifiers as numbers") << "1.0.0-beta.2"
                                                    << "1.0.0-beta.11" << -1;
    QTest::newRow("rc above beta") << "1.0.0-rc.1"
                                   << "1.0.0-beta.11" << 1;
    QTest::newRow("identifier beyond 64 bits") << "1.0.0-1"
                                               << "1.0.0-99999999999999999999999" << -1;
}

void TestUpdateFeed::comparesVersions() {
    QFETCH(QString, a);
    QFETCH(QString, b);
    QFETCH(int, order);
    const auto left = parseVersion(a);
    const auto right = parseVersion(b);
    QVERIFY(left && right);
    const auto expected = order < 0
                              ? std::strong_ordering::less
                              : (order > 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
    const auto reversed = order > 0
                              ? std::strong_ordering::less
                              : (order < 0 ? std::strong_ordering::greater : std::strong_ordering::equal);
    QVERIFY(compareVersions(*left, *right) == expected);
    QVERIFY(compareVersions(*right, *left) == reversed);
}

void TestUpdateFeed::rejectsMalformedVersions_data() {
    QTest::addColumn<QString>("text");
    for (const char* text : {"", " ", "v", "1.2.3.4", "1..2", "1.x", "-1.0", "1.0-", "1.0.0-al pha",
                             "1.0.0-beta..1", "99999999999999999999.0", "1.0.0 beta", "+1.0"})
        QTest::newRow(text) << QString::fromLatin1(text);
}

void TestUpdateFeed::rejectsMalformedVersions() {
    QFETCH(QString, text);
    QVERIFY(!parseVersion(text));
}

void TestUpdateFeed::evaluatesFeeds_data() {
    QTest::addColumn<QByteArray>("feed");
    QTest::addColumn<QString>("current");
    QTest::addColumn<UpdateCheckResult::Status>("status");
    QTest::addColumn<QString>("latest");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("text"); // notes, or the start of the error
    using S = UpdateCheckResult::Status;
    const QByteArray page = R"("downloadPage": "https://example.org/get", )";

    QTest::newRow("newer") << page + R"("versions": [{"version": "0.2.0", "notes": "Faster."},
                                                     {"version": "0.1.0"}]})"
                           << "0.1.0" << S::updateAvailable << "0.2.0"
                           << "https://example.org/get"
                           << "Version 0.2.0\nFaster.";
    QTest::newRow("all newer notes, newest first")
        << page + R"("versions": [{"version": "0.1.5", "notes": "B"}, {"version": "0.3.0", "notes": "C"},
                                  {"version": "0.2.0"}, {"version": "0.1.0", "notes": "old"}]})"
        << "0.1.0" << S::updateAvailable << "0.3.0"
        << "https://example.org/get"
        << "Version 0.3.0\nC\n\nVersion 0.2.0\n\nVersion 0.1.5\nB";
    QTest::newRow("equal") << page + R"("versions": [{"version": "0.1.0"}]})"
                           << "0.1.0" << S::upToDate << "0.1.0"
                           << ""
                           << "";
    QTest::newRow("running a newer build") << page + R"("versions": [{"version": "0.2.0"}]})"
                                           << "0.5.0" << S::upToDate << "0.2.0"
                                           << ""
                                           << "";
    QTest::newRow("stable ignores pre-releases")
        << page + R"("versions": [{"version": "0.2.0-beta.1"}, {"version": "0.1.0"}]})"
        << "0.1.0" << S::upToDate << "0.1.0"
        << ""
        << "";
    QTest::newRow("pre-release gets the next pre-release")
        << page + R"("versions": [{"version": "0.2.0-beta.2"}]})"
        << "0.2.0-beta.1" << S::updateAvailable << "0.2.0-beta.2"
        << "https://example.org/get"
        << "Version 0.2.0-beta.2";
    QTest::newRow("pre-release gets the release") << page + R"("versions": [{"version": "0.2.0"}]})"
                                                  << "0.2.0-rc.1" << S::updateAvailable << "0.2.0"
                                                  << "https://example.org/get"
                                                  << "Version 0.2.0";
    QTest::newRow("entry page, relative to the feed")
        << QByteArray(R"({"versions": [{"version": "1.0", "downloadPage": "/linux/download"}]})") << "0.1.0"
        << S::updateAvailable << "1.0.0"
        << "http://127.0.0.1:8000/linux/download"
        << "Version 1.0.0";
    QTest::newRow("unreadable entries skipped")
        << page + R"("versions": [{"version": "banana"}, {"notes": "x"}, 7, {"version": "0.2.0"}]})"
        << "0.1.0" << S::updateAvailable << "0.2.0"
        << "https://example.org/get"
        << "Version 0.2.0";
    QTest::newRow("page the desktop must not open")
        << QByteArray(R"({"downloadPage": "file:///usr/bin/xterm", "versions": [{"version": "0.2.0"}]})")
        << "0.1.0" << S::failed << ""
        << ""
        << "The update feed names no download page for version 0.2.0.";
    QTest::newRow("no page at all") << QByteArray(R"({"versions": [{"version": "0.2.0"}]})") << "0.1.0"
                                    << S::failed << ""
                                    << ""
                                    << "The update feed names no download page";
    QTest::newRow("not JSON") << QByteArray("<html>Not found</html>") << "0.1.0" << S::failed << ""
                              << ""
                              << "The update feed is not valid JSON";
    QTest::newRow("empty body") << QByteArray() << "0.1.0" << S::failed << ""
                                << ""
                                << "The update feed is not valid JSON";
    QTest::newRow("no versions") << page + "\"x\": 1}"
                                 << "0.1.0" << S::failed << ""
                                 << ""
                                 << "The update feed has no list of versions.";
    QTest::newRow("array document") << QByteArray("[1, 2]") << "0.1.0" << S::failed << ""
                                    << ""
                                    << "The update feed has no list of versions.";
    QTest::newRow("nothing readable") << page + R"("versions": [{"version": "soon"}]})"
                                      << "0.1.0" << S::failed << ""
                                      << ""
                                      << "The update feed lists no readable version.";
    QTest::newRow("running version unreadable")
        << page + R"("versions": [{"version": "0.2.0"}]})"
        << "dev" << S::failed << ""
        << ""
        << "This copy of Quillpoint has no comparable version (\"dev\").";
}

void TestUpdateFeed::evaluatesFeeds() {
    QFETCH(QByteArray, feed);
    QFETCH(QString, current);
    QFETCH(UpdateCheckResult::Status, status);
    QFETCH(QString, latest);
    QFETCH(QString, page);
    QFETCH(QString, text);
    // Rows that share the download page start inside the object.
    const QByteArray document = feed.startsWith('"') ? '{' + feed : feed;
    const auto parsed = parseUpdateFeed(document, QUrl("http://127.0.0.1:8000/feeds/updates.json"));
    const UpdateCheckResult result = std::holds_alternative<UpdateFeed>(parsed)
                                         ? evaluateUpdateFeed(std::get<UpdateFeed>(parsed), current)
                                         : failedCheck(current, std::get<UpdateFeedError>(parsed).message);
    QCOMPARE(result.status, status);
    QCOMPARE(result.currentVersion, current);
    if (status == UpdateCheckResult::Status::failed) {
        QVERIFY2(result.error.startsWith(text), qPrintable(result.error));
        return;
    }
    QCOMPARE(result.latestVersion, latest);
    QCOMPARE(result.downloadPage.toString(), page);
    QCOMPARE(result.notes, text);
}

QTEST_GUILESS_MAIN(TestUpdateFeed)
#include "tst_updatefeed.moc"
