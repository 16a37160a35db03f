#include "X11TestClient.h"
#include "platform/x11/X11KeyGrabber.h"
#include "platform/x11/X11KeyboardLayout.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/KeyCodes.h"

#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <xcb/xcb.h>

using namespace quill;
using namespace quill::test;

Q_DECLARE_METATYPE(Shortcut)

namespace {

const Shortcut ctrl1{18, modifier::ctrl};
constexpr xcb_keycode_t keycodeOf1 = 10; // the "1" key in the X server's default map
constexpr uint16_t capsLock = XCB_MOD_MASK_LOCK;
constexpr uint16_t numLock = XCB_MOD_MASK_2;

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace

// The real key grabber on the test desktop's X server, with mousepad in front.
class TestGlobalShortcutDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void grabbedPressIsConsumedAndExtraModifierPassesThrough();
    void plainKeyIsTakenFromTheEditor();
    void lockKeysDoNotMatter_data();
    void lockKeysDoNotMatter();
    void heldShortcutTriggersOnceAndReportsOneRelease();
    void shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed_data();
    void shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed();
    void otherLayoutsKeepTheKeyThatWasRecorded_data();
    void otherLayoutsKeepTheKeyThatWasRecorded();
    void keyLostAfterAKeyboardChangeIsReported();
    void grabberThatCannotWatchTheKeyboardSaysSo();

private:
    QString editorTitle() { return xdotool({QStringLiteral("getwindowname"), editorWindow}); }

    QProcess editor;
    QString editorWindow;
    std::unique_ptr<X11KeyGrabber> grabber;
    std::unique_ptr<X11KeyboardLayout> layout;
    std::unique_ptr<ShortcutNames> names;
    std::unique_ptr<ShortcutRegistry> registry;
};

void TestGlobalShortcutDesktop::initTestCase() {
    QVERIFY(QGuiApplication::platformName() == QStringLiteral("xcb"));
    grabber = std::make_unique<X11KeyGrabber>(
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    layout = std::make_unique<X11KeyboardLayout>(
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    names = std::make_unique<ShortcutNames>(*layout);
    registry = std::make_unique<ShortcutRegistry>(*grabber, *names);
    editor.start(QStringLiteral("mousepad"), {});
    QVERIFY(editor.waitForStarted());
    const QStringList windows =
        xdotool({"search", "--sync", "--onlyvisible", "--class", "mousepad"}).split(u'\n');
    editorWindow = windows.last();
    xdotool({"windowactivate", "--sync", editorWindow});
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
}

void TestGlobalShortcutDesktop::cleanupTestCase() {
    registry.reset();
    grabber.reset();
    editor.kill();
    editor.waitForFinished();
}

void TestGlobalShortcutDesktop::grabbedPressIsConsumedAndExtraModifierPassesThrough() {
    int triggers = 0;
    GlobalShortcutService service(ctrl1, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    service.registerShortcut();
    QVERIFY2(service.isRegistered(), qPrintable(service.registrationError().value_or(QString())));
    xdotool({"key", "ctrl+1"});
    QTRY_COMPARE(triggers, 1);
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
    xdotool({"key", "ctrl+shift+1"});
    QTest::qWait(200);
    QCOMPARE(triggers, 1);
    service.unregister();

    // The editor shows what reaches it: with Ctrl+Z taken, Ctrl+Shift+Z still redoes, and
    // Ctrl+Z no longer undoes.
    xdotool({"type", "x"});
    QTRY_COMPARE(editorTitle(), QStringLiteral("*Untitled 1 - Mousepad"));
    xdotool({"key", "ctrl+z"});
    QTRY_COMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
    GlobalShortcutService undo(Shortcut{6, modifier::ctrl}, *registry);
    connect(&undo, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    undo.registerShortcut();
    xdotool({"key", "ctrl+shift+z"});
    QTRY_COMPARE(editorTitle(), QStringLiteral("*Untitled 1 - Mousepad"));
    xdotool({"key", "ctrl+z"});
    QTRY_COMPARE(triggers, 2);
    QCOMPARE(editorTitle(), QStringLiteral("*Untitled 1 - Mousepad"));
    undo.unregister();
    xdotool({"key", "ctrl+z"});
    QTRY_COMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
}

void TestGlobalShortcutDesktop::plainKeyIsTakenFromTheEditor() {
    int triggers = 0;
    GlobalShortcutService service(Shortcut{18, 0}, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    service.registerShortcut();
    QVERIFY(service.isRegistered());
    xdotool({"key", "1"});
    QTRY_COMPARE(triggers, 1);
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));

    // Shift+1 types "!" into the editor.
    xdotool({"key", "shift+1"});
    QTRY_COMPARE(editorTitle(), QStringLiteral("*Untitled 1 - Mousepad"));
    QCOMPARE(triggers, 1);
    xdotool({"key", "ctrl+z"});
    QTRY_COMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
}

void TestGlobalShortcutDesktop::lockKeysDoNotMatter_data() {
    QTest::addColumn<QStringList>("locks");
    QTest::newRow("Caps Lock") << QStringList{"Caps_Lock"};
    QTest::newRow("Num Lock") << QStringList{"Num_Lock"};
    QTest::newRow("both") << QStringList{"Caps_Lock", "Num_Lock"};
}

void TestGlobalShortcutDesktop::lockKeysDoNotMatter() {
    QFETCH(QStringList, locks);
    int triggers = 0;
    GlobalShortcutService service(ctrl1, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    service.registerShortcut();
    for (const QString& lock : locks)
        xdotool({"key", lock});
    xdotool({"key", "ctrl+1"});
    for (const QString& lock : locks)
        xdotool({"key", lock});
    QTRY_COMPARE(triggers, 1);
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
}

void TestGlobalShortcutDesktop::heldShortcutTriggersOnceAndReportsOneRelease() {
    // The earlier tests' last releases are still being told from repeats.
    QTest::qWait(200);
    int presses = 0;
    int releases = 0;
    GlobalShortcutService service(ctrl1, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++presses; });
    connect(&service, &GlobalShortcutService::released, this, [&] { ++releases; });
    service.registerShortcut();
    // The server repeats a key held this long about twenty times.
    xdotool({"keydown", "ctrl+1"});
    QTest::qWait(1500);
    QCOMPARE(presses, 1);
    QCOMPARE(releases, 0);
    xdotool({"keyup", "ctrl+1"});
    QTRY_COMPARE(releases, 1);
    QTest::qWait(200);
    QCOMPARE(presses, 1);
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));

    // Two quick presses are two presses, each with its release.
    xdotool({"key", "ctrl+1", "ctrl+1"});
    QTRY_COMPARE(releases, 3);
    QCOMPARE(presses, 3);
}

void TestGlobalShortcutDesktop::shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed_data() {
    QTest::addColumn<uint16_t>("heldLockState");
    QTest::newRow("no lock") << uint16_t(0);
    QTest::newRow("only with Caps Lock") << capsLock;
    QTest::newRow("only with both locks") << uint16_t(capsLock | numLock);
}

void TestGlobalShortcutDesktop::shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed() {
    QFETCH(uint16_t, heldLockState);
    X11TestClient other;
    QVERIFY(other.grab(XCB_MOD_MASK_CONTROL | heldLockState, keycodeOf1));
    GlobalShortcutService service(ctrl1, *registry);
    service.registerShortcut();
    QVERIFY(!service.isRegistered());
    QCOMPARE(service.registrationError(), QStringLiteral("Ctrl+1 is already used by another application"));

    // Every lock state we were granted on the way was given back.
    for (uint16_t lock : {uint16_t(0), capsLock, numLock, uint16_t(capsLock | numLock)}) {
        if (lock != heldLockState)
            QVERIFY2(other.grab(XCB_MOD_MASK_CONTROL | lock, keycodeOf1), qPrintable(QString::number(lock)));
    }
}

void TestGlobalShortcutDesktop::otherLayoutsKeepTheKeyThatWasRecorded_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<Shortcut>("shortcut");
    QTest::addColumn<xcb_keycode_t>("keycode");
    QTest::addColumn<xcb_keycode_t>("sameCharacterElsewhere");
    QTest::addColumn<QString>("name");
    // On AZERTY the "1" key types "&" (and 1 with Shift) and "A" sits where US has "Q"; on
    // QWERTZ Z and Y swap. The name is what the key's cap says on that layout.
    QTest::newRow("fr, the 1 key") << "fr" << ctrl1 << keycodeOf1 << xcb_keycode_t(0) << "Ctrl+1";
    QTest::newRow("fr, the US Q key")
        << "fr" << Shortcut{12, modifier::ctrl} << xcb_keycode_t(24) << xcb_keycode_t(38) << "Ctrl+A";
    QTest::newRow("de, the US Z key")
        << "de" << Shortcut{6, modifier::ctrl} << xcb_keycode_t(52) << xcb_keycode_t(29) << "Ctrl+Y";
}

void TestGlobalShortcutDesktop::otherLayoutsKeepTheKeyThatWasRecorded() {
    QFETCH(QString, layout);
    QFETCH(Shortcut, shortcut);
    QFETCH(xcb_keycode_t, keycode);
    QFETCH(xcb_keycode_t, sameCharacterElsewhere);
    QFETCH(QString, name);
    X11TestClient other;
    int triggers = 0;
    GlobalShortcutService service(shortcut, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++triggers; });

    // Grabbed before the layout changes and after it: both take the key itself.
    service.registerShortcut();
    QVERIFY(service.isRegistered());
    QTRY_COMPARE(names->text(shortcut), displayString(shortcut));
    QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
    auto restore =
        qScopeGuard([] { QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")}); });
    QTest::qWait(300);
    QTRY_COMPARE(names->text(shortcut), name);
    QVERIFY(other.pressWithControl(keycode));
    QTRY_COMPARE(triggers, 1);
    if (sameCharacterElsewhere) {
        QVERIFY(other.pressWithControl(sameCharacterElsewhere));
        QTest::qWait(300);
        QCOMPARE(triggers, 1);
    }

    service.unregister();
    service.registerShortcut();
    QVERIFY(service.isRegistered());
    // The first press's release settles before the second press, as between two real presses.
    QTest::qWait(300);
    QVERIFY(other.pressWithControl(keycode));
    QTRY_COMPARE(triggers, 2);
}

void TestGlobalShortcutDesktop::keyLostAfterAKeyboardChangeIsReported() {
    X11TestClient other;
    // Another client holds Ctrl+1 only together with Mod3, which no key sets yet.
    QVERIFY(other.grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_3, keycodeOf1));
    QSignalSpy late(registry.get(), &ShortcutRegistry::lateFailureReported);
    GlobalShortcutService service(ctrl1, *registry);
    service.registerShortcut();
    QVERIFY(service.isRegistered());
    QVERIFY(!registry->lateFailure(ctrl1));

    // Num Lock moves to Mod3: the grab for "Num Lock on" is now the other client's.
    QCOMPARE(QProcess::execute("xmodmap", {"-e", "clear mod2", "-e", "add mod3 = Num_Lock"}), 0);
    auto restore = qScopeGuard([] {
        QProcess::execute("xmodmap", {"-e", "clear mod3", "-e", "add mod2 = Num_Lock"});
    });
    QTRY_COMPARE_WITH_TIMEOUT(late.size(), 1, 10000);
    const QString message = names->text(ctrl1) + " is already used by another application";
    QCOMPARE(late.at(0).at(0).toString(), message);
    QCOMPARE(registry->lateFailure(ctrl1), std::optional<QString>(message));
    service.unregister();
}

void TestGlobalShortcutDesktop::grabberThatCannotWatchTheKeyboardSaysSo() {
    // Not installed: it has no keyboard map to grab by, which is not another application's doing.
    X11KeyGrabber idle(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    QCOMPARE(idle.grab(KeyCombination{Qt::Key_1, Qt::ControlModifier}), KeyGrabber::GrabResult::unwatched);
    ShortcutRegistry idleRegistry(idle, *names);
    QCOMPARE(idleRegistry.check(ctrl1),
             std::optional<QString>(names->text(ctrl1) +
                                    " cannot be used: Quillpoint cannot watch the keyboard in this session"));
}

QTEST_MAIN(TestGlobalShortcutDesktop)
#include "tst_globalshortcut_desktop.moc"
