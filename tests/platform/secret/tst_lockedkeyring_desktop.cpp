#include "DesktopTools.h"
#include "FakePlatform.h"
#include "backend/AuthService.h"
#include "platform/secret/LibsecretSecretStore.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

const QString secrets = QStringLiteral("org.freedesktop.secrets");
const QString servicePath = QStringLiteral("/org/freedesktop/secrets");
const QString deviceKey = QStringLiteral("quillpoint_device_id");
const QString storedIdentity = QStringLiteral("device-test-1234ABCD");
// The password scripts/test-desktop.sh unlocks the login collection with.
const QByteArray masterPassword = "quill-test";

QDBusMessage serviceCall(const QString& interface, const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(secrets, servicePath, interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call);
}

QDBusObjectPath defaultCollection() {
    const QDBusMessage reply = serviceCall(QStringLiteral("org.freedesktop.Secret.Service"),
                                           QStringLiteral("ReadAlias"), {QStringLiteral("default")});
    return reply.arguments().value(0).value<QDBusObjectPath>();
}

bool lockDefaultCollection() {
    const QDBusMessage reply =
        serviceCall(QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("Lock"),
                    {QVariant::fromValue(QList<QDBusObjectPath>{defaultCollection()})});
    return reply.type() == QDBusMessage::ReplyMessage;
}

// What another program (or the desktop's own unlock dialog) does: unlock without a prompt.
bool unlockDefaultCollection() {
    const QDBusMessage session =
        serviceCall(QStringLiteral("org.freedesktop.Secret.Service"), QStringLiteral("OpenSession"),
                    {QStringLiteral("plain"), QVariant::fromValue(QDBusVariant(QString()))});
    if (session.type() != QDBusMessage::ReplyMessage)
        return false;
    QDBusArgument secret;
    secret.beginStructure();
    secret << session.arguments().value(1).value<QDBusObjectPath>() << QByteArray() << masterPassword
           << QStringLiteral("text/plain");
    secret.endStructure();
    const QDBusMessage reply =
        serviceCall(QStringLiteral("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"),
                    QStringLiteral("UnlockWithMasterPassword"),
                    {QVariant::fromValue(defaultCollection()), QVariant::fromValue(secret)});
    return reply.type() == QDBusMessage::ReplyMessage;
}

// The keyring's unlock dialog (gcr-prompter) on the test desktop; empty when none opens.
QString unlockPrompt() {
    QString window;
    xdotool({"search", "--sync", "--onlyvisible", "--class", "gcr-prompter"}, &window);
    return window.section(u'\n', -1);
}

} // namespace

// A locked login collection on the test desktop's gnome-keyring: the identity survives, an
// unlock prompt can take its time, and sign-in happens once the collection is unlocked.
class TestLockedKeyringDesktop : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void promptAnsweredLateSignsInWithTheStoredIdentity();
    void dismissedPromptKeepsTheIdentityUntilUnlocked();
    void quittingWithThePromptOpenDoesNotWaitForIt();

private:
    LibsecretSecretStore store;
    KeychainHelper keychain{store};
    FakeHostInfo host{QStringLiteral("test")};
};

void TestLockedKeyringDesktop::init() {
    QVERIFY(unlockDefaultCollection());
    QVERIFY(keychain.deleteItem(AuthService::tokenKey));
    QVERIFY(keychain.save(deviceKey, storedIdentity));
    QVERIFY(lockDefaultCollection());
}

void TestLockedKeyringDesktop::cleanup() {
    QVERIFY(unlockDefaultCollection());
}

void TestLockedKeyringDesktop::promptAnsweredLateSignsInWithTheStoredIdentity() {
    LogCapture log;
    AuthService auth(keychain, host);
    QVERIFY(!auth.isAuthenticated());
    QVERIFY(auth.isChecking());

    // The user reads the dialog for a while; the call waits for the answer meanwhile.
    const QString prompt = unlockPrompt();
    QVERIFY(!prompt.isEmpty());
    QTest::qWait(1500);
    QVERIFY(auth.isChecking());
    QVERIFY(xdotool({"windowactivate", "--sync", prompt}));
    QVERIFY(xdotool({"type", QString::fromLatin1(masterPassword)}));
    QVERIFY(xdotool({"key", "Return"}));

    QTRY_VERIFY_WITH_TIMEOUT(auth.isAuthenticated(), 10000);
    QCOMPARE(*auth.userIdentifier(), storedIdentity);
    QCOMPARE(keychain.load(deviceKey), storedIdentity);
    QCOMPARE(log.lines.last(), QStringLiteral("AuthService: Auto-authenticated as ") + storedIdentity);
}

void TestLockedKeyringDesktop::dismissedPromptKeepsTheIdentityUntilUnlocked() {
    LogCapture log;
    AuthService auth(keychain, host);
    const QString prompt = unlockPrompt();
    QVERIFY(!prompt.isEmpty());
    QVERIFY(xdotool({"windowactivate", "--sync", prompt}));
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_VERIFY_WITH_TIMEOUT(!auth.isChecking(), 10000);
    QVERIFY(!auth.isAuthenticated());
    QVERIFY2(log.lines.last().startsWith(QStringLiteral("AuthService: Cannot read the keyring")),
             qPrintable(log.lines.join(u'\n')));
    // A read on the main thread (as every request makes) fails at once, without a prompt.
    QCOMPARE(keychain.read(deviceKey).status, KeychainHelper::Read::Status::failed);

    // Unlocked by someone else later: the service notices and signs in as before.
    QVERIFY(unlockDefaultCollection());
    QTRY_VERIFY_WITH_TIMEOUT(auth.isAuthenticated(), 10000);
    QCOMPARE(*auth.userIdentifier(), storedIdentity);
    QCOMPARE(keychain.load(deviceKey), storedIdentity);
}

void TestLockedKeyringDesktop::quittingWithThePromptOpenDoesNotWaitForIt() {
    {
        AuthService auth(keychain, host);
        QVERIFY(!unlockPrompt().isEmpty());
        QVERIFY(auth.isChecking());
    }
    // Nothing was read or written meanwhile.
    QVERIFY(unlockDefaultCollection());
    QCOMPARE(keychain.load(deviceKey), storedIdentity);
    QCOMPARE(keychain.load(AuthService::tokenKey), std::nullopt);
}

QTEST_GUILESS_MAIN(TestLockedKeyringDesktop)
#include "tst_lockedkeyring_desktop.moc"
