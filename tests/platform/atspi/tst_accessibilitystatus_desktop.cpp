#include "platform/atspi/DBusAccessibilityStatus.h"

#include <QTest>

using namespace quill;

// The accessibility switch of the test desktop's bus launcher, read, flipped and followed.
class TestAccessibilityStatusDesktop : public QObject {
    Q_OBJECT
private slots:
    void flipsOfTheSwitchAreAnnouncedWithoutAsking();
};

void TestAccessibilityStatusDesktop::flipsOfTheSwitchAreAnnouncedWithoutAsking() {
    DBusAccessibilityStatus status;
    QCOMPARE(status.isEnabled(), std::optional<bool>(true));
    int changes = 0;
    QVERIFY(status.watch([&] { ++changes; }));

    QVERIFY(status.setEnabled(false));
    QTRY_COMPARE(changes, 1);
    QCOMPARE(status.isEnabled(), std::optional<bool>(false));
    // Setting what is already set is no change.
    QVERIFY(status.setEnabled(false));
    QVERIFY(status.setEnabled(true));
    QTRY_COMPARE(changes, 2);
    QCOMPARE(status.isEnabled(), std::optional<bool>(true));
}

QTEST_GUILESS_MAIN(TestAccessibilityStatusDesktop)
#include "tst_accessibilitystatus_desktop.moc"
