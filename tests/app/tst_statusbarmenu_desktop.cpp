#include "FakePlatform.h"
#include "StatusNotifierHost.h"
#include "app/StatusBarController.h"
#include "backend/AuthService.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDateTime>
#include <QTest>
#include <QThread>

using namespace quill;
using namespace quill::test;

namespace {

struct ExportedItem {
    int id = 0;
    QString label;
    bool enabled = true;
    QString type;
    QString shortcut; // "Control+1": the keys of the dbusmenu "shortcut" property, joined
};

QString describe(const QList<ExportedItem>& items) {
    QStringList rows;
    for (const ExportedItem& item : items) {
        rows << (item.type == QLatin1String("separator")
                     ? QStringLiteral("-")
                     : item.label + u'|' + (item.enabled ? u'1' : u'0') + u'|' + item.shortcut);
    }
    return rows.join(u'\n');
}

} // namespace

// The tray menu as a tray host reads it over dbusmenu. Tray icon and host share this process:
// the host answers from a thread of its own, because Qt's tray icon asks the watcher with
// blocking calls, and calls to the tray icon wait with the event loop running.
class TestStatusBarMenuDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void trayHostReadsTheMenuAndHearsOnlyRealChanges();

public slots:
    void layoutUpdated(uint revision, int parent);

private:
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments);
    QList<ExportedItem> readMenu();
    bool click(int id);

    QThread hostThread;
    std::unique_ptr<StatusNotifierHost> host = std::make_unique<StatusNotifierHost>();
    QStringList registered;
    QString service;
    QString menuPath;
    int layoutUpdates = 0;
};

void TestStatusBarMenuDesktop::initTestCase() {
    // Qt decides once per process whether a tray host exists, so the host comes first.
    connect(host.get(), &StatusNotifierHost::StatusNotifierItemRegistered, this,
            [this](const QString& item) { registered << item; });
    host->moveToThread(&hostThread);
    hostThread.start();
    bool started = false;
    QMetaObject::invokeMethod(
        host.get(), [this] { return host->start(); }, Qt::BlockingQueuedConnection, &started);
    QVERIFY(started);
}

void TestStatusBarMenuDesktop::cleanupTestCase() {
    QMetaObject::invokeMethod(
        host.get(), [this] { host.reset(); }, Qt::BlockingQueuedConnection);
    hostThread.quit();
    hostThread.wait();
}

void TestStatusBarMenuDesktop::layoutUpdated(uint, int) {
    ++layoutUpdates;
}

QDBusMessage TestStatusBarMenuDesktop::call(const QString& path, const QString& interface,
                                            const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::BlockWithGui, 5000);
}

QList<ExportedItem> TestStatusBarMenuDesktop::readMenu() {
    const QDBusMessage reply = call(menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                    QStringLiteral("GetLayout"), {0, -1, QStringList()});
    QList<ExportedItem> items;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return items;
    const QDBusArgument layout = reply.arguments().at(1).value<QDBusArgument>();
    int rootId = 0;
    QVariantMap rootProperties;
    layout.beginStructure();
    layout >> rootId >> rootProperties;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        const QDBusArgument childLayout = child.variant().value<QDBusArgument>();
        ExportedItem item;
        QVariantMap properties;
        childLayout.beginStructure();
        childLayout >> item.id >> properties;
        childLayout.endStructure();
        item.label = properties.value(QStringLiteral("label")).toString();
        item.enabled = properties.value(QStringLiteral("enabled"), true).toBool();
        item.type = properties.value(QStringLiteral("type")).toString();
        if (properties.contains(QStringLiteral("shortcut"))) {
            const QDBusArgument keys = properties.value(QStringLiteral("shortcut")).value<QDBusArgument>();
            QStringList chords;
            keys.beginArray();
            while (!keys.atEnd()) {
                QStringList chord;
                keys >> chord;
                chords << chord.join(u'+');
            }
            keys.endArray();
            item.shortcut = chords.join(u' ');
        }
        items << item;
    }
    layout.endArray();
    layout.endStructure();
    return items;
}

bool TestStatusBarMenuDesktop::click(int id) {
    const QVariantList arguments = {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)),
                                    uint(QDateTime::currentSecsSinceEpoch())};
    return call(menuPath, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"), arguments)
               .type() == QDBusMessage::ReplyMessage;
}

void TestStatusBarMenuDesktop::trayHostReadsTheMenuAndHearsOnlyRealChanges() {
    FakeSecretStore secrets;
    FakeHostInfo hostInfo(QStringLiteral("box"));
    LogCapture log;
    AuthService auth(KeychainHelper(secrets), hostInfo, 60000);
    bool trusted = true;
    QStringList calls;
    StatusBarController::Callbacks callbacks;
    callbacks.explain = [&] { calls << "explain"; };
    callbacks.requestAccessibility = [&] { calls << "accessibility"; };
    StatusBarController controller(
        {18, 0x100}, {19, 0x100 | 0x200}, callbacks, [&] { return trusted; }, auth);

    controller.setupStatusItem();
    QTRY_COMPARE_WITH_TIMEOUT(registered.size(), 1, 10000);
    service = registered.at(0);
    QVERIFY2(!service.contains(u'/'), qPrintable(service));

    const QDBusMessage menuProperty =
        call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
             QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Menu")});
    QCOMPARE(menuProperty.type(), QDBusMessage::ReplyMessage);
    menuPath = menuProperty.arguments().at(0).value<QDBusVariant>().variant().value<QDBusObjectPath>().path();
    QVERIFY(!menuPath.isEmpty());
    QVERIFY(QDBusConnection::sessionBus().connect(service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                                                  QStringLiteral("LayoutUpdated"), this,
                                                  SLOT(layoutUpdated(uint, int))));

    const QString expected =
        QStringList{
            "Quillpoint|0|",
            "-",
            "Explainer Mode|1|Control+1",
            "Transcribe Mode|1|Control+Shift+2",
            "-",
            "✓ Accessibility Enabled|0|",
            "✓ Signed In|0|",
            "-",
            "Preferences...|1|Control+,",
            "Check for Updates...|1|",
            "-",
            "Quit Quillpoint|1|Control+Q",
        }
            .join(u'\n');
    QTRY_COMPARE_WITH_TIMEOUT(describe(readMenu()), expected, 5000);

    // The refresh with nothing changed says nothing to the tray host.
    QTest::qWait(300);
    layoutUpdates = 0;
    for (int i = 0; i < 3; ++i) {
        controller.buildMenu();
        QTest::qWait(200);
    }
    QCOMPARE(layoutUpdates, 0);

    // A real change reaches the host, and the new line works.
    trusted = false;
    controller.buildMenu();
    QTRY_VERIFY_WITH_TIMEOUT(layoutUpdates > 0, 5000);
    QList<ExportedItem> items;
    QTRY_VERIFY_WITH_TIMEOUT(describe(items = readMenu()).contains("⚠ Accessibility Required|1|"), 5000);
    const auto line = std::find_if(items.cbegin(), items.cend(), [](const ExportedItem& item) {
        return item.label == QStringLiteral("⚠ Accessibility Required");
    });
    QVERIFY(click(line->id));
    QTRY_COMPARE(calls, QStringList{"accessibility"});
    const auto explain = std::find_if(items.cbegin(), items.cend(), [](const ExportedItem& item) {
        return item.label == QStringLiteral("Explainer Mode");
    });
    QVERIFY(click(explain->id));
    QTRY_COMPARE(calls, (QStringList{"accessibility", "explain"}));
}

QTEST_MAIN(TestStatusBarMenuDesktop)
#include "tst_statusbarmenu_desktop.moc"
