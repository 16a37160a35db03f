#include "overlay/PanelPlacement.h"

#include <QTest>

using namespace quill;

Q_DECLARE_METATYPE(DisplayLayout)
Q_DECLARE_METATYPE(std::optional<QRect>)

class TestPanelPlacement : public QObject {
    Q_OBJECT
private slots:
    void place_data();
    void place();
};

namespace {

// A 1280x1024 screen with a 30 px top bar, and a 1920x1080 screen to its right with a 40 px
// bottom dock.
const ScreenArea left{QRect(0, 0, 1280, 1024), QRect(0, 30, 1280, 994)};
const ScreenArea right{QRect(1280, 0, 1920, 1080), QRect(1280, 0, 1920, 1040)};

DisplayLayout at(QPoint pointer, QList<ScreenArea> screens = {left, right},
                 std::optional<ScreenArea> main = left) {
    return {pointer, std::move(screens), main};
}

DisplayLayout pointerUnknown(std::optional<ScreenArea> main = left) {
    return {std::nullopt, {left, right}, main};
}

} // namespace

void TestPanelPlacement::place_data() {
    QTest::addColumn<QSize>("fitting");
    QTest::addColumn<DisplayLayout>("layout");
    QTest::addColumn<std::optional<QRect>>("expected");

    QTest::newRow("below and right of the pointer")
        << QSize(380, 200) << at({100, 100}) << std::optional(QRect(120, 120, 380, 200));
    QTest::newRow("small content opens at the minimum")
        << QSize(300, 50) << at({100, 100}) << std::optional(QRect(120, 120, 380, 120));
    QTest::newRow("large content opens at the maximum")
        << QSize(900, 800) << at({100, 100}) << std::optional(QRect(120, 120, 700, 600));
    QTest::newRow("exactly fits the right edge")
        << QSize(380, 200) << at({880, 100}) << std::optional(QRect(900, 120, 380, 200));
    QTest::newRow("right edge: left of the pointer")
        << QSize(380, 200) << at({881, 100}) << std::optional(QRect(481, 120, 380, 200));
    QTest::newRow("exactly fits the bottom edge")
        << QSize(380, 200) << at({100, 804}) << std::optional(QRect(120, 824, 380, 200));
    QTest::newRow("bottom edge: above the pointer")
        << QSize(380, 200) << at({100, 805}) << std::optional(QRect(120, 585, 380, 200));
    QTest::newRow("bottom edge, then clamped below the top")
        << QSize(380, 600) << at({100, 600}) << std::optional(QRect(120, 50, 380, 600));
    QTest::newRow("second screen, measured against its own visible area")
        << QSize(380, 120) << at({1500, 900}) << std::optional(QRect(1520, 920, 380, 120));
    QTest::newRow("second screen's right edge")
        << QSize(700, 120) << at({2600, 100}) << std::optional(QRect(1880, 120, 700, 120));
    QTest::newRow("pointer on the shared edge belongs to the screen it starts")
        << QSize(380, 120) << at({1280, 500}) << std::optional(QRect(1300, 520, 380, 120));
    QTest::newRow("last column of the first screen")
        << QSize(380, 120) << at({1279, 500}) << std::optional(QRect(879, 520, 380, 120));
    QTest::newRow("mirrored screens: the first listed wins")
        << QSize(380, 600) << at({100, 700}, {left, ScreenArea{left.frame, QRect(0, 100, 1280, 924)}})
        << std::optional(QRect(120, 80, 380, 600));
    QTest::newRow("pointer off every screen: the main screen")
        << QSize(380, 120) << at({-500, 890}, {left}, right) << std::optional(QRect(-480, 910, 380, 120));
    QTest::newRow("pointer unknown: top centre of the main screen's visible area")
        << QSize(380, 200) << pointerUnknown(right) << std::optional(QRect(2050, 20, 380, 200));
    QTest::newRow("pointer unknown, large content")
        << QSize(900, 800) << pointerUnknown() << std::optional(QRect(290, 50, 700, 600));
    QTest::newRow("no screen at all")
        << QSize(380, 120) << at({100, 100}, {}, std::nullopt) << std::optional<QRect>();
}

void TestPanelPlacement::place() {
    QFETCH(QSize, fitting);
    QFETCH(DisplayLayout, layout);
    QTEST(PanelPlacement::place(fitting, layout), "expected");
}

QTEST_APPLESS_MAIN(TestPanelPlacement)
#include "tst_panelplacement.moc"
