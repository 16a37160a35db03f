#include "overlay/ExplanationView.h"
#include "overlay/OverlayButtons.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/x11/X11PanelWindowHelper.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace quill;

// The panel in a real X session with a window manager, over a real text editor.
class TestOverlayDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void appearsBesidePointerAndLeavesFocusAlone();
    void resizesByItsCornerWithinTheLimits();

private:
    static QString run(const QStringList& arguments);
    QProcess editor;
};

QString TestOverlayDesktop::run(const QStringList& arguments) {
    QProcess process;
    process.start(arguments.first(), arguments.mid(1));
    process.waitForFinished(5000);
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

void TestOverlayDesktop::initTestCase() {
    editor.start(QStringLiteral("mousepad"), {QStringLiteral("--disable-server")});
    QVERIFY(editor.waitForStarted());
    QString window;
    QTRY_VERIFY_WITH_TIMEOUT(
        !(window = run({"xdotool", "search", "--onlyvisible", "--class", "mousepad"})).isEmpty(), 10000);
    window = window.section('\n', 0, 0);
    run({"xdotool", "windowactivate", "--sync", window});
    QTRY_COMPARE_WITH_TIMEOUT(run({"xdotool", "getactivewindow"}), window, 5000);
}

void TestOverlayDesktop::cleanupTestCase() {
    editor.kill();
    editor.waitForFinished();
}

void TestOverlayDesktop::appearsBesidePointerAndLeavesFocusAlone() {
    const QString front = run({"xdotool", "getactivewindow"});
    run({"xdotool", "mousemove", "--sync", "300", "260"});

    X11PanelWindowHelper helper(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    OverlayPanelController controller(helper);
    controller.viewModel().setState(ExplanationState::loading());
    controller.showPanel();
    OverlayPanelWindow* panel = controller.panel();
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    const QString id = QString::number(panel->winId());

    // Where the window manager put it: 20 px right of and below the pointer.
    QRegularExpressionMatch position;
    QTRY_VERIFY_WITH_TIMEOUT((position = QRegularExpression(QStringLiteral("Position: (\\d+),(\\d+)"))
                                             .match(run({"xdotool", "getwindowgeometry", id})))
                                 .hasMatch(),
                             3000);
    const QMargins shadow = panel->shadowMargins();
    QCOMPARE(
        QPoint(position.captured(1).toInt() + shadow.left(), position.captured(2).toInt() + shadow.top()),
        QPoint(320, 280));
    // Qt learns where the window manager put the window from an event of its own, a moment later.
    QTRY_COMPARE_WITH_TIMEOUT(panel->cardGeometry().topLeft(), QPoint(320, 280), 3000);
    QVERIFY(run({"xprop", "-id", id, "_NET_WM_DESKTOP"}).endsWith(QStringLiteral("4294967295")));

    QTest::qWait(300); // the panel never takes the focus, not even a little later
    QCOMPARE(run({"xdotool", "getactivewindow"}), front);

    // A click on the dismiss button hides the panel and still leaves the editor in front.
    controller.viewModel().setState(ExplanationState::content(QStringLiteral("Some **text**")));
    controller.updatePanelSize(false);
    const QPoint button = controller.contentView()->dismissButton()->mapToGlobal(
        controller.contentView()->dismissButton()->rect().center());
    run({"xdotool", "mousemove", "--sync", QString::number(button.x()), QString::number(button.y())});
    run({"xdotool", "click", "1"});
    QTRY_VERIFY_WITH_TIMEOUT(!panel->isVisible(), 3000);
    QCOMPARE(controller.viewModel().state().kind(), ExplanationState::Kind::idle);
    QCOMPARE(run({"xdotool", "getactivewindow"}), front);
}

void TestOverlayDesktop::resizesByItsCornerWithinTheLimits() {
    run({"xdotool", "mousemove", "--sync", "200", "150"});
    X11PanelWindowHelper helper(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    OverlayPanelController controller(helper);
    controller.viewModel().setState(ExplanationState::content(QStringLiteral("Short text")));
    controller.showPanel();
    OverlayPanelWindow* panel = controller.panel();
    QVERIFY(QTest::qWaitForWindowExposed(panel));
    const QRect shown = panel->cardGeometry();

    // The window manager does the resizing and holds it to the limits the panel gives it.
    const auto dragCorner = [&](QPoint by) {
        QWidget* grip = panel->resizeHandle(Qt::BottomEdge | Qt::RightEdge);
        const QPoint from = grip->mapToGlobal(grip->rect().center());
        run({"xdotool", "mousemove", "--sync", QString::number(from.x()), QString::number(from.y())});
        run({"xdotool", "mousedown", "1"});
        for (int step = 1; step <= 4; ++step) {
            const QPoint to = from + by * step / 4;
            run({"xdotool", "mousemove", "--sync", QString::number(to.x()), QString::number(to.y())});
            QTest::qWait(50); // a drag at a hand's pace, not one jump
        }
        run({"xdotool", "mouseup", "1"});
    };
    dragCorner(QPoint(600, 700));
    QTRY_COMPARE_WITH_TIMEOUT(panel->cardGeometry(), QRect(shown.topLeft(), QSize(700, 600)), 3000);
    dragCorner(QPoint(-600, -700));
    QTRY_COMPARE_WITH_TIMEOUT(panel->cardGeometry(), QRect(shown.topLeft(), QSize(380, 120)), 3000);
    controller.hide();
}

QTEST_MAIN(TestOverlayDesktop)
#include "tst_overlay_desktop.moc"
