#include "AppProcess.h"
#include "StatusNotifierHost.h"

#include <QSignalSpy>
#include <QTest>

using namespace quill::test;

// The real program in the test desktop, with a tray host on the session bus.
class TestAppDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void startsInTheTraySignsInAndQuitsFromTheMenu();

private:
    StatusNotifierHost host;
};

void TestAppDesktop::initTestCase() {
    QVERIFY(host.start());
}

void TestAppDesktop::startsInTheTraySignsInAndQuitsFromTheMenu() {
    QSignalSpy registered(&host, &StatusNotifierHost::StatusNotifierItemRegistered);
    AppProcess app;
    app.start();
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as device-"),
             qPrintable(app.lines().join('\n')));
    QTRY_COMPARE_WITH_TIMEOUT(registered.size(), 1, 10000);
    const QString item = registered.at(0).at(0).toString();
    QCOMPARE(host.itemProperty(item, "Title"), QStringLiteral("Quillpoint"));

    // A second copy leaves at once and the first keeps running.
    AppProcess second;
    second.start();
    QVERIFY(second.waitForExit(5000));
    QCOMPARE(second.process().exitCode(), 1);
    QVERIFY(second.waitForLine("QuillpointApp: Quillpoint is already running"));
    QCOMPARE(app.process().state(), QProcess::Running);

    QList<StatusNotifierHost::MenuItem> items;
    QTRY_VERIFY_WITH_TIMEOUT(!(items = host.menuItems(item)).isEmpty(), 5000);
    const auto quit = std::find_if(items.cbegin(), items.cend(), [](const auto& entry) {
        return entry.label == QStringLiteral("Quit Quillpoint");
    });
    QVERIFY(quit != items.cend());
    QVERIFY(host.clickMenuItem(item, quit->id));
    QVERIFY(app.waitForExit(5000));
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process().exitCode(), 0);

    // The next start finds the token it stored in the keyring.
    AppProcess again;
    again.start();
    QVERIFY2(again.waitForLine("AuthService: Using existing device token"),
             qPrintable(again.lines().join('\n')));
}

QTEST_GUILESS_MAIN(TestAppDesktop)
#include "tst_app_desktop.moc"
