#include "FakePlatform.h"
#include "backend/AuthService.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace quill;
using namespace quill::test;

class TestAuthService : public QObject {
    Q_OBJECT
private slots:
    void firstRunMakesOneDeviceToken();
    void secondRunReusesTheToken();
    void lostBearerTokenReusesDeviceToken();
    void signOutSignsInAgainWithTheSameToken();
    void failedKeyringWritesStillReportSignedIn();
};

void TestAuthService::firstRunMakesOneDeviceToken() {
    FakeSecretStore store;
    FakeHostInfo host("my-box.local");
    LogCapture log;
    AuthService auth(KeychainHelper(store), host, 10);
    QVERIFY(auth.isAuthenticated());
    const QString token = *auth.userIdentifier();
    QVERIFY2(QRegularExpression("^device-my-box\\.local-[0-9A-F]{8}$").match(token).hasMatch(),
             qPrintable(token));
    QCOMPARE(store.items.value("app.quillpoint.Quillpoint/quillpoint_device_id"), token.toUtf8());
    QCOMPARE(store.items.value("app.quillpoint.Quillpoint/quillpoint_auth_token"), token.toUtf8());
    QCOMPARE(log.lines, QStringList{"AuthService: Auto-authenticated as " + token});
}

void TestAuthService::secondRunReusesTheToken() {
    FakeSecretStore store;
    FakeHostInfo host("box");
    QString first;
    {
        AuthService auth(KeychainHelper(store), host);
        first = *auth.userIdentifier();
    }
    LogCapture log;
    const int storesBefore = store.storeCalls;
    AuthService again(KeychainHelper(store), host);
    QCOMPARE(*again.userIdentifier(), first);
    QCOMPARE(store.storeCalls, storesBefore);
    QCOMPARE(log.lines, QStringList{"AuthService: Using existing device token"});
}

void TestAuthService::lostBearerTokenReusesDeviceToken() {
    FakeSecretStore store;
    FakeHostInfo host("box");
    store.items.insert("app.quillpoint.Quillpoint/quillpoint_device_id", "device-box-1234ABCD");
    AuthService auth(KeychainHelper(store), host);
    QCOMPARE(*auth.userIdentifier(), QStringLiteral("device-box-1234ABCD"));
    QCOMPARE(store.items.value("app.quillpoint.Quillpoint/quillpoint_auth_token"),
             QByteArray("device-box-1234ABCD"));
    QCOMPARE(store.items.value("app.quillpoint.Quillpoint/quillpoint_device_id"),
             QByteArray("device-box-1234ABCD"));
}

void TestAuthService::signOutSignsInAgainWithTheSameToken() {
    FakeSecretStore store;
    FakeHostInfo host("box");
    AuthService auth(KeychainHelper(store), host, 50);
    const QString token = *auth.userIdentifier();
    QSignalSpy authChanged(&auth, &AuthService::isAuthenticatedChanged);

    LogCapture log;
    auth.signOut();
    QVERIFY(!auth.isAuthenticated());
    QCOMPARE(auth.userIdentifier(), std::nullopt);
    QVERIFY(!store.items.contains("app.quillpoint.Quillpoint/quillpoint_auth_token"));
    QVERIFY(store.items.contains("app.quillpoint.Quillpoint/quillpoint_device_id"));

    QTRY_VERIFY(auth.isAuthenticated());
    QCOMPARE(*auth.userIdentifier(), token);
    QCOMPARE(store.items.value("app.quillpoint.Quillpoint/quillpoint_auth_token"), token.toUtf8());
    QCOMPARE(log.lines, QStringList{"AuthService: Auto-authenticated as " + token});
    QCOMPARE(authChanged.size(), 2);
}

void TestAuthService::failedKeyringWritesStillReportSignedIn() {
    FakeSecretStore store;
    store.failStores = true;
    FakeHostInfo host("box");
    LogCapture log;
    AuthService auth(KeychainHelper(store), host);
    QVERIFY(auth.isAuthenticated());
    QCOMPARE(log.lines.size(), 3);
    QCOMPARE(log.lines[0], QStringLiteral("KeychainHelper: Error saving item - 13"));
    QCOMPARE(log.lines[1], QStringLiteral("KeychainHelper: Error saving item - 13"));
    QVERIFY(log.lines[2].startsWith("AuthService: Auto-authenticated as device-box-"));
}

QTEST_GUILESS_MAIN(TestAuthService)
#include "tst_authservice.moc"
