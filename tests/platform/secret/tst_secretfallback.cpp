#include "FakePlatform.h"
#include "backend/KeychainHelper.h"
#include "platform/secret/FallbackSecretStore.h"
#include "platform/secret/LibsecretSecretStore.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

class TestSecretFallback : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void noSecretServiceFallsBackToAPrivateFile();
    void unreadableFileIsNeverOverwritten();
};

void TestSecretFallback::initTestCase() {
    // A session without any bus: the keyring cannot exist.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quillpoint-test-bus");
}

void TestSecretFallback::noSecretServiceFallsBackToAPrivateFile() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/Quillpoint/secrets.json";
    FallbackSecretStore store(std::make_unique<LibsecretSecretStore>(),
                              std::make_unique<FileSecretStore>(path));
    KeychainHelper keychain(store);
    LogCapture log;

    QCOMPARE(keychain.load("quillpoint_auth_token"), std::nullopt);
    QVERIFY(keychain.save("quillpoint_auth_token", QStringLiteral("device-ü-1")));
    QVERIFY(keychain.save("quillpoint_device_id", QString()));
    QCOMPARE(keychain.load("quillpoint_auth_token"), QStringLiteral("device-ü-1"));
    QCOMPARE(keychain.load("quillpoint_device_id"), QString());
    QVERIFY(keychain.deleteItem("quillpoint_auth_token"));
    QVERIFY(keychain.deleteItem("quillpoint_auth_token"));
    QCOMPARE(keychain.load("quillpoint_auth_token"), std::nullopt);

    const QFile::Permissions perms = QFileInfo(path).permissions();
    QVERIFY(perms.testFlags(QFile::ReadOwner | QFile::WriteOwner));
    QCOMPARE(perms & 0x00FF, 0); // nothing for group or others
    QCOMPARE(log.lines.size(), 1);
    QVERIFY(log.lines[0].startsWith("KeychainHelper: Keyring unavailable"));
    QVERIFY(log.lines[0].contains(path));
}

void TestSecretFallback::unreadableFileIsNeverOverwritten() {
    QTemporaryDir dir;
    const QString path = dir.path() + "/secrets.json";
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("{ not json");
    file.close();
    FileSecretStore store(path);
    QCOMPARE(store.lookup("s", "a").status, SecretResult::Status::failed);
    QCOMPARE(store.store("s", "a", "v").status, SecretResult::Status::failed);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("{ not json"));
}

QTEST_GUILESS_MAIN(TestSecretFallback)
#include "tst_secretfallback.moc"
