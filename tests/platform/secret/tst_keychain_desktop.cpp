#include "backend/KeychainHelper.h"
#include "platform/secret/LibsecretSecretStore.h"

#include <QTest>

using namespace quill;

// Against the real gnome-keyring of the test desktop.
class TestKeychainDesktop : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(keychain.deleteItem(key)); }
    void missingItems();
    void valuesRoundTrip_data();
    void valuesRoundTrip();
    void saveReplaces();
    void itemsAreSeparatedByAccountAndService();

private:
    LibsecretSecretStore store;
    KeychainHelper keychain{store};
    const QString key = QStringLiteral("quillpoint_test_item");
};

void TestKeychainDesktop::missingItems() {
    QCOMPARE(keychain.load(key), std::nullopt);
    QVERIFY(keychain.deleteItem(key));
}

void TestKeychainDesktop::valuesRoundTrip_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("ascii") << "device-host-0A1B2C3D";
    QTest::newRow("empty") << "";
    QTest::newRow("non-ascii") << QStringLiteral("clé-⌘-日本-🙂");
    QTest::newRow("long") << QString(4096, u'x');
}

void TestKeychainDesktop::valuesRoundTrip() {
    QFETCH(QString, value);
    QVERIFY(keychain.save(key, value));
    const auto loaded = keychain.load(key);
    QVERIFY(loaded.has_value());
    QCOMPARE(*loaded, value);
    QVERIFY(keychain.deleteItem(key));
    QCOMPARE(keychain.load(key), std::nullopt);
}

void TestKeychainDesktop::saveReplaces() {
    QVERIFY(keychain.save(key, "first"));
    QVERIFY(keychain.save(key, "second"));
    QCOMPARE(keychain.load(key), QStringLiteral("second"));
    QVERIFY(keychain.deleteItem(key));
    QCOMPARE(keychain.load(key), std::nullopt); // one item, not two
}

void TestKeychainDesktop::itemsAreSeparatedByAccountAndService() {
    QVERIFY(keychain.save(key, "mine"));
    QVERIFY(store.store("another.app", key, "theirs").ok());
    QCOMPARE(keychain.load(key), QStringLiteral("mine"));
    QVERIFY(keychain.deleteItem(key));
    QCOMPARE(store.lookup("another.app", key).value, QByteArray("theirs"));
    QVERIFY(store.clear("another.app", key).ok());
}

QTEST_GUILESS_MAIN(TestKeychainDesktop)
#include "tst_keychain_desktop.moc"
