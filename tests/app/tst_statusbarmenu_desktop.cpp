#include "FakePlatform.h"
#include "StatusNotifierHost.h"
#include "app/StatusBarController.h"
#include "backend/AuthService.h"

#include <QDBusConnection>
#include <QTest>
#include <QThread>

using namespace quill;
using namespace quill::test;

namespace {

using ExportedItem = StatusNotifierHost::MenuItem;

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
    // The tray icon lives in this process: calls to it must let the event loop run.
    QList<ExportedItem> readMenu() { return StatusNotifierHost::menuItems(service, QDBus::BlockWithGui); }
    bool click(int id) { return StatusNotifierHost::clickMenuItem(service, id, QDBus::BlockWithGui); }

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

void TestStatusBarMenuDesktop::trayHostReadsTheMenuAndHearsOnlyRealChanges() {
    FakeSecretStore secrets;
    FakeHostInfo hostInfo(QStringLiteral("box"));
    LogCapture log;
    AuthService auth(KeychainHelper(secrets), hostInfo, 60000);
    bool trusted = true;
    QStringList calls;
    FakeKeyboardLayout layout;
    ShortcutNames names{layout};
    StatusBarController controller(
        {18, 0x100}, {19, 0x100 | 0x200}, StatusBarController::UpdateCheck::offered, [&] { return trusted; },
        auth, names);
    connect(&controller, &StatusBarController::explainRequested, this, [&] { calls << "explain"; });
    connect(&controller, &StatusBarController::accessibilityRequested, this,
            [&] { calls << "accessibility"; });
    connect(&controller, &StatusBarController::updateCheckRequested, this, [&] { calls << "updates"; });

    controller.setupStatusItem();
    QTRY_COMPARE_WITH_TIMEOUT(registered.size(), 1, 10000);
    service = registered.at(0);
    QVERIFY2(!service.contains(u'/'), qPrintable(service));

    menuPath = StatusNotifierHost::itemProperty(service, QStringLiteral("Menu"), QDBus::BlockWithGui);
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
            "Show Last Answer|0|",
            "-",
            "✓ Accessibility Enabled|0|",
            "✓ Signed In|0|",
            "-",
            "History...|1|",
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
