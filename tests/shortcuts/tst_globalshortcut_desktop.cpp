#include "platform/x11/X11KeyGrabber.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <cstdlib>
#include <memory>
#include <xcb/xcb.h>

using namespace quill;

namespace {

const Shortcut ctrl1{18, modifier::command};
constexpr xcb_keycode_t keycodeOf1 = 10; // the "1" key in the X server's default map
constexpr uint16_t capsLock = XCB_MOD_MASK_LOCK;
constexpr uint16_t numLock = XCB_MOD_MASK_2;

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Another X client, to hold keys before us and to change the keyboard mapping.
class OtherClient {
public:
    OtherClient() : m_connection(xcb_connect(nullptr, nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }
    ~OtherClient() { xcb_disconnect(m_connection); }

    bool grab(uint16_t modifiers, xcb_keycode_t keycode) {
        const auto cookie = xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode,
                                                 XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t* error = xcb_request_check(m_connection, cookie);
        std::free(error);
        return !error;
    }
    xcb_connection_t* connection() const { return m_connection; }

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root;
};

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
    void heldShortcutTriggersOncePerRepeat();
    void shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed_data();
    void shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed();
    void keyboardMappingChangeMovesTheGrab();

private:
    QString editorTitle() { return xdotool({QStringLiteral("getwindowname"), editorWindow}); }

    QProcess editor;
    QString editorWindow;
    std::unique_ptr<X11KeyGrabber> grabber;
    std::unique_ptr<ShortcutRegistry> registry;
};

void TestGlobalShortcutDesktop::initTestCase() {
    QVERIFY(QGuiApplication::platformName() == QStringLiteral("xcb"));
    grabber = std::make_unique<X11KeyGrabber>(
        qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    registry = std::make_unique<ShortcutRegistry>(*grabber);
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
    GlobalShortcutService service(
        ctrl1, [&] { ++triggers; }, *registry);
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
    GlobalShortcutService undo(
        Shortcut{6, modifier::command}, [&] { ++triggers; }, *registry);
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
    GlobalShortcutService service(
        Shortcut{18, 0}, [&] { ++triggers; }, *registry);
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
    GlobalShortcutService service(
        ctrl1, [&] { ++triggers; }, *registry);
    service.registerShortcut();
    for (const QString& lock : locks)
        xdotool({"key", lock});
    xdotool({"key", "ctrl+1"});
    for (const QString& lock : locks)
        xdotool({"key", lock});
    QTRY_COMPARE(triggers, 1);
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
}

void TestGlobalShortcutDesktop::heldShortcutTriggersOncePerRepeat() {
    int triggers = 0;
    GlobalShortcutService service(
        ctrl1, [&] { ++triggers; }, *registry);
    service.registerShortcut();
    xdotool({"keydown", "ctrl+1"});
    QTest::qWait(1000);
    xdotool({"keyup", "ctrl+1"});
    QTRY_VERIFY2(triggers >= 3, qPrintable(QString::number(triggers)));
}

void TestGlobalShortcutDesktop::shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed_data() {
    QTest::addColumn<uint16_t>("heldLockState");
    QTest::newRow("no lock") << uint16_t(0);
    QTest::newRow("only with Caps Lock") << capsLock;
    QTest::newRow("only with both locks") << uint16_t(capsLock | numLock);
}

void TestGlobalShortcutDesktop::shortcutHeldByAnotherClientIsReportedAndNothingStaysGrabbed() {
    QFETCH(uint16_t, heldLockState);
    OtherClient other;
    QVERIFY(other.grab(XCB_MOD_MASK_CONTROL | heldLockState, keycodeOf1));
    GlobalShortcutService service(
        ctrl1, [] {}, *registry);
    service.registerShortcut();
    QVERIFY(!service.isRegistered());
    QCOMPARE(service.registrationError(), QStringLiteral("Ctrl+1 is already used by another application"));

    // Every lock state we were granted on the way was given back.
    for (uint16_t lock : {uint16_t(0), capsLock, numLock, uint16_t(capsLock | numLock)}) {
        if (lock != heldLockState)
            QVERIFY2(other.grab(XCB_MOD_MASK_CONTROL | lock, keycodeOf1), qPrintable(QString::number(lock)));
    }
}

void TestGlobalShortcutDesktop::keyboardMappingChangeMovesTheGrab() {
    OtherClient other;
    xcb_connection_t* connection = other.connection();
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto* mapping = xcb_get_keyboard_mapping_reply(
        connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count), nullptr);
    QVERIFY(mapping);
    const int perKey = mapping->keysyms_per_keycode;
    std::vector<xcb_keysym_t> keysyms(xcb_get_keyboard_mapping_keysyms(mapping),
                                      xcb_get_keyboard_mapping_keysyms(mapping) + count * perKey);
    std::free(mapping);
    // A key that types nothing today receives "1"; the old "1" key types F20.
    int spare = -1;
    for (int i = count - 1; i >= 0 && spare < 0; --i) {
        if (std::all_of(keysyms.begin() + i * perKey, keysyms.begin() + (i + 1) * perKey,
                        [](xcb_keysym_t s) { return s == 0; }))
            spare = setup->min_keycode + i;
    }
    QVERIFY(spare > 0);
    const std::vector<xcb_keysym_t> oldOne(keysyms.begin() + (keycodeOf1 - setup->min_keycode) * perKey,
                                           keysyms.begin() + (keycodeOf1 - setup->min_keycode + 1) * perKey);
    auto remap = [&](xcb_keycode_t keycode, std::vector<xcb_keysym_t> syms) {
        syms.resize(perKey, 0);
        xcb_change_keyboard_mapping(connection, 1, keycode, uint8_t(perKey), syms.data());
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    };

    int triggers = 0;
    GlobalShortcutService service(
        ctrl1, [&] { ++triggers; }, *registry);
    service.registerShortcut();
    remap(xcb_keycode_t(spare), {0x31, 0x21});
    remap(keycodeOf1, {0xffd1});
    // The server tells every client of the change in its own time: press until the grab has moved.
    const bool triggered = QTest::qWaitFor(
        [&] {
            xdotool({"key", "ctrl+1"});
            return QTest::qWaitFor([&] { return triggers > 0; }, 300);
        },
        5000);
    remap(keycodeOf1, oldOne);
    remap(xcb_keycode_t(spare), {});
    QVERIFY(triggered);
    QCOMPARE(editorTitle(), QStringLiteral("Untitled 1 - Mousepad"));
}

QTEST_MAIN(TestGlobalShortcutDesktop)
#include "tst_globalshortcut_desktop.moc"
