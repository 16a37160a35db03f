#include "FakePlatform.h"
#include "backend/AuthService.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <future>

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
    void unreadableKeyringKeepsTheIdentityAndSignsInOnceUnlocked();
    void slowKeyringAnswersThroughTheEventLoop();
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
    const int storesBefore = store.storeCalls.load();
    AuthService again(KeychainHelper(store), host);
    QCOMPARE(*again.userIdentifier(), first);
    QCOMPARE(store.storeCalls.load(), storesBefore);
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

    // Signing in again finds no bearer token (it was deleted) and takes the device token.
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

void TestAuthService::unreadableKeyringKeepsTheIdentityAndSignsInOnceUnlocked() {
    FakeSecretStore store;
    store.items.insert("app.quillpoint.Quillpoint/quillpoint_device_id", "device-box-1234ABCD");
    store.failLookups = true;
    FakeHostInfo host("box");
    LogCapture log;
    AuthService auth(KeychainHelper(store), host);
    QVERIFY(!auth.isAuthenticated());
    QVERIFY(!auth.isChecking());
    QCOMPARE(store.storeCalls.load(), 0);
    QCOMPARE(log.lines,
             QStringList{"AuthService: Cannot read the keyring (the collection is locked); signing "
                         "in once it is unlocked"});

    // Still locked when the user presses the sign-in button: nothing is written either.
    auth.checkAuthentication();
    QTRY_COMPARE(log.lines.size(), 2);
    QCOMPARE(store.storeCalls.load(), 0);

    store.failLookups = false;
    QVERIFY(store.onUnlocked);
    store.onUnlocked();
    QTRY_VERIFY(auth.isAuthenticated());
    QCOMPARE(*auth.userIdentifier(), QStringLiteral("device-box-1234ABCD"));
    QCOMPARE(store.items.value("app.quillpoint.Quillpoint/quillpoint_device_id"),
             QByteArray("device-box-1234ABCD"));
    QCOMPARE(log.lines.last(), QStringLiteral("AuthService: Auto-authenticated as device-box-1234ABCD"));

    // Once signed in, an unlock reads nothing again.
    const int lookups = store.lookupCalls.load();
    store.onUnlocked();
    QTest::qWait(50);
    QCOMPARE(store.lookupCalls.load(), lookups);
}

void TestAuthService::slowKeyringAnswersThroughTheEventLoop() {
    FakeSecretStore store;
    std::promise<void> unlocked;
    std::shared_future<void> prompt = unlocked.get_future().share();
    store.beforeLookup = [prompt] { prompt.wait(); };
    FakeHostInfo host("box");
    LogCapture log;
    AuthService auth(KeychainHelper(store), host);
    QVERIFY(!auth.isAuthenticated());
    QVERIFY(auth.isChecking());
    QSignalSpy finished(&auth, &AuthService::checkFinished);

    // The user takes a while to answer the prompt; asking again does not ask the keyring twice.
    auth.checkAuthentication();
    QTest::qWait(50);
    QCOMPARE(store.lookupCalls.load(), 1);
    unlocked.set_value();
    QTRY_VERIFY(auth.isAuthenticated());
    QCOMPARE(finished.size(), 1);
    QVERIFY(!auth.isChecking());
    QCOMPARE(log.lines, QStringList{"AuthService: Auto-authenticated as " + *auth.userIdentifier()});
}

QTEST_GUILESS_MAIN(TestAuthService)
#include "tst_authservice.moc"
