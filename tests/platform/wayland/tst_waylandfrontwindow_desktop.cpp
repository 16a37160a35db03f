#include "platform/PlatformNull.h"
#include "platform/atspi/AtspiAccessibilityReader.h"
#include "platform/wayland/KWinQuery.h"
#include "platform/wayland/WaylandActiveWindowInfo.h"
#include "platform/wayland/WaylandPanelWindowHelper.h"
#include "platform/x11/X11ActiveWindowInfo.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

using namespace quill;

// The active window and the pointer in headless KWin, for a native Wayland window and for an
// XWayland one in front.
class TestWaylandFrontWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void kwinNamesTheNativeWindowAndThePointer();
    void anXWaylandWindowInFrontIsNamedByXWayland();

private:
    static QProcess* start(const QString& program, const QStringList& arguments, bool wayland);
    std::shared_ptr<KWinQuery> kwin;
    std::unique_ptr<WaylandActiveWindowInfo> info;
    QProcess* editor = nullptr;
    QProcess* terminal = nullptr;
};

QProcess* TestWaylandFrontWindow::start(const QString& program, const QStringList& arguments, bool wayland) {
    auto* process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GDK_BACKEND", wayland ? "wayland" : "x11");
    process->setProcessEnvironment(env);
    process->start(program, arguments);
    return process;
}

namespace {

// Asks KWin and waits for its answer, as the panel's placement does without waiting.
std::optional<KWinQuery::Answer> answerOf(KWinQuery& kwin) {
    QSignalSpy answered(&kwin, &KWinQuery::answered);
    QSignalSpy failed(&kwin, &KWinQuery::failed);
    kwin.ask();
    // The question returns at once; the answer comes through the event loop.
    if (!answered.isEmpty() || !failed.isEmpty())
        return std::nullopt;
    if (!QTest::qWaitFor([&] { return !answered.isEmpty() || !failed.isEmpty(); }, 5000) ||
        answered.isEmpty())
        return std::nullopt;
    return answered.first().first().value<KWinQuery::Answer>();
}

} // namespace

void TestWaylandFrontWindow::initTestCase() {
    QVERIFY(KWinQuery::isAvailable());
    // The test desktop's KWin draws in software: on a busy machine it takes over a second to load
    // a script while a window opens. What is checked here is the answer, not its speed.
    kwin = std::make_shared<KWinQuery>(5000);
    info = std::make_unique<WaylandActiveWindowInfo>(std::make_unique<X11ActiveWindowInfo>(), kwin);
}

void TestWaylandFrontWindow::cleanupTestCase() {
    for (QProcess* process : {terminal, editor}) {
        if (!process)
            continue;
        process->kill();
        process->waitForFinished(3000);
        delete process;
    }
}

void TestWaylandFrontWindow::kwinNamesTheNativeWindowAndThePointer() {
    const auto nothing = answerOf(*kwin);
    QVERIFY(nothing);
    QCOMPARE(nothing->processId, 0);
    QCOMPARE(info->applicationNames(), QStringList());

    editor = start("mousepad", {"--disable-server"}, true);
    QTRY_VERIFY_WITH_TIMEOUT(info->applicationNames().contains("mousepad"), 15000);
    const auto answer = answerOf(*kwin);
    QVERIFY(answer);
    QCOMPARE(answer->processId, editor->processId());
    // Headless KWin keeps its pointer in the middle of the screen.
    QCOMPARE(answer->pointer, QPoint(639, 511));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 10; ++i)
        QVERIFY(answerOf(*kwin));
    qInfo("one question to KWin takes %.1f ms", double(timer.elapsed()) / 10);
    QVERIFY(!info->holdsPrimarySelection());

    // The panel's placement asks without waiting and gets the pointer through the event loop.
    WaylandPanelWindowHelper panel(std::make_unique<NullPanelWindowHelper>(), kwin);
    std::optional<std::optional<QPoint>> placed;
    panel.refreshPointerPosition([&placed](std::optional<QPoint> pointer) { placed = pointer; });
    QVERIFY(!placed);
    QTRY_VERIFY_WITH_TIMEOUT(placed, 5000);
    QCOMPARE(*placed, std::optional<QPoint>(QPoint(639, 511)));
    QCOMPARE(panel.pointerPosition(), std::optional<QPoint>(QPoint(639, 511)));

    // Without KWin, the application the accessibility bus marks active names the window.
    AtspiAccessibilityReader reader;
    WaylandActiveWindowInfo accessible(std::make_unique<X11ActiveWindowInfo>(), nullptr, &reader);
    QTRY_COMPARE_WITH_TIMEOUT(accessible.applicationNames(), QStringList({"mousepad", "mousepad"}), 5000);
}

void TestWaylandFrontWindow::anXWaylandWindowInFrontIsNamedByXWayland() {
    terminal = start("xterm", {}, false);
    QTRY_VERIFY_WITH_TIMEOUT(info->applicationNames() == QStringList({"xterm", "XTerm"}), 15000);
    QCOMPARE(answerOf(*kwin)->processId, terminal->processId());
    terminal->kill();
    terminal->waitForFinished(3000);
    QTRY_VERIFY_WITH_TIMEOUT(info->applicationNames().contains("mousepad"), 10000);
}

QTEST_GUILESS_MAIN(TestWaylandFrontWindow)
#include "tst_waylandfrontwindow_desktop.moc"
