#include "AccessibleEditor.h"
#include "AppProcess.h"
#include "DesktopTools.h"
#include "TestBackend.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <xcb/shape.h>
#include <xcb/xcb.h>

using namespace quill::test;

namespace {

// Real key presses through the session's virtual keyboard (tests/support/session-keys).
bool keys(const QStringList& words) {
    QProcess keyboard;
    keyboard.start(qEnvironmentVariable("QUILLPOINT_SOURCE_DIR") + "/tests/support/session-keys", words);
    return keyboard.waitForFinished(30000) && keyboard.exitStatus() == QProcess::NormalExit &&
           keyboard.exitCode() == 0;
}

// Whether X window `id` is one the window manager leaves alone (override-redirect).
bool isUnmanaged(uint32_t id) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, id), nullptr);
    const bool unmanaged = attributes && attributes->override_redirect;
    free(attributes);
    xcb_disconnect(connection);
    return unmanaged;
}

// Where the card takes pointer input: the bounding box of the window's input shape, in root
// coordinates.
QRect inputArea(uint32_t window) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    QRect area;
    xcb_shape_get_rectangles_reply_t* reply = xcb_shape_get_rectangles_reply(
        connection, xcb_shape_get_rectangles(connection, window, XCB_SHAPE_SK_INPUT), nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_translate_coordinates_reply_t* origin = xcb_translate_coordinates_reply(
        connection, xcb_translate_coordinates(connection, window, root, 0, 0), nullptr);
    if (reply && origin) {
        const xcb_rectangle_t* rectangles = xcb_shape_get_rectangles_rectangles(reply);
        for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply); ++i)
            area |= QRect(rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height);
        area.translate(origin->dst_x, origin->dst_y);
    }
    free(reply);
    free(origin);
    xcb_disconnect(connection);
    return area;
}

// The rectangle of the window sway's tree marks focused.
QRect focusedWindow(const QJsonObject& node) {
    if (node["focused"].toBool() && node["type"].toString() == "con") {
        const QJsonObject r = node["rect"].toObject();
        return {r["x"].toInt(), r["y"].toInt(), r["width"].toInt(), r["height"].toInt()};
    }
    for (const char* children : {"nodes", "floating_nodes"}) {
        for (const auto& child : node[children].toArray()) {
            const QRect found = focusedWindow(child.toObject());
            if (found.isValid())
                return found;
        }
    }
    return {};
}

} // namespace

// The real program in headless sway with XWayland, as a user starts it: shortcuts bound through
// sway's IPC, keys typed on a virtual keyboard, mousepad as a native Wayland window in front,
// the reference backend on a loopback port and speech playing into the microphone.
class TestSwayDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void ctrl1ExplainsTheSelectionAndThePanelTakesNoFocus();
    void ctrl2PastesTheTranscriptAndKeepsTheClipboard();
    void escapeCancelsARecordingAndIsFreeAgainAfterwards();
    void quittingTakesTheBindingsOutAndLeavesTheClipboard();
    void holdingCtrl2RecordsUntilItIsReleased();
    void aKeySwaysConfigurationBindsIsLeftToItAfterAReload();

private:
    QList<QJsonObject> requestsTo(const QString& path) const;
    QStringList recordings() const;
    QString bindingsRunBy(const QString& combination);
    QString panelWindow();
    // Waits for `condition`, checking often so that the time it took is measured closely.
    static qint64 millisecondsUntil(const std::function<bool()>& condition, int timeoutMs);

    TestBackend backend;
    QTemporaryDir documents;
    QProcess editorProcess;
    std::unique_ptr<AccessibleEditor> editor;
    std::unique_ptr<MicFeeder> microphone;
    std::unique_ptr<AppProcess> app;
};

qint64 TestSwayDesktop::millisecondsUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs)
            return -1;
        QTest::qWait(5);
    }
    return elapsed.elapsed();
}

void TestSwayDesktop::initTestCase() {
    QVERIFY(!qEnvironmentVariableIsEmpty("SWAYSOCK"));
    QVERIFY(backend.start());
    QVERIFY(!writeProgramSettings(backend.baseUrl(), "transcriptionKeepClipboard=true\n").isEmpty());

    const QString documentPath = documents.path() + "/notes.txt";
    QFile document(documentPath);
    QVERIFY(document.open(QIODevice::WriteOnly));
    document.write("Photosynthesis turns light into chemical energy.");
    document.close();
    editorProcess.setProcessEnvironment(environmentWith({"GDK_BACKEND=wayland"}));
    editorProcess.start("mousepad", {"--disable-server", documentPath});
    QVERIFY(editorProcess.waitForStarted());
    editor = std::make_unique<AccessibleEditor>(editorProcess.processId());
    QTRY_VERIFY_WITH_TIMEOUT(editor->find() && editor->hasFocus(), 15000);

    microphone = std::make_unique<MicFeeder>(speechPcm("Please write this down, one two three."));

    app = std::make_unique<AppProcess>();
    app->start();
    QVERIFY2(app->waitForLine("AuthService: Auto-authenticated as "), qPrintable(app->lines().join('\n')));
    // Start-up shows nothing that takes the focus from the editor.
    QTest::qWait(1000);
    QVERIFY(editor->hasFocus());
}

void TestSwayDesktop::cleanupTestCase() {
    microphone.reset();
    editorProcess.kill();
    editorProcess.waitForFinished(3000);
}

QList<QJsonObject> TestSwayDesktop::requestsTo(const QString& path) const {
    QList<QJsonObject> matching;
    for (const QJsonObject& request : backend.requests()) {
        if (request["path"].toString() == path)
            matching << request;
    }
    return matching;
}

// The commands of the bindings sway runs while `combination` is typed.
QString TestSwayDesktop::bindingsRunBy(const QString& combination) {
    QProcess events;
    events.start("swaymsg", {"-t", "subscribe", "-m", R"(["binding"])"});
    if (!events.waitForStarted())
        return "swaymsg did not start";
    QTest::qWait(500); // swaymsg says nothing once it has subscribed
    if (!keys({"key", combination}))
        return "the key was not typed";
    QTest::qWait(500); // time for an event that must not come
    events.kill();
    events.waitForFinished(3000);
    return QString::fromUtf8(events.readAllStandardOutput());
}

QStringList TestSwayDesktop::recordings() const {
    return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).entryList({"quill_recording_*"}, QDir::Files);
}

QString TestSwayDesktop::panelWindow() {
    QString windows;
    if (!xdotool({"search", "--onlyvisible", "--pid", QString::number(app->pid()), "--name", "^Quillpoint$"},
                 &windows))
        return {};
    return windows.split('\n').constFirst();
}

void TestSwayDesktop::ctrl1ExplainsTheSelectionAndThePanelTakesNoFocus() {
    QVERIFY(keys({"key", "ctrl+a"}));
    QElapsedTimer pressed;
    qint64 keyTool = 0;
    bool requested = false;
    // The bindings are made while the program starts; a press before they are in place reaches
    // the editor, so it is pressed again.
    for (int attempt = 0; attempt < 10 && !requested; ++attempt) {
        pressed.start();
        QVERIFY(keys({"key", "ctrl+1"}));
        keyTool = pressed.elapsed();
        requested = millisecondsUntil([this] { return !requestsTo("/api/explain").isEmpty(); }, 1000) >= 0;
    }
    QVERIFY2(requested, qPrintable(app->lines().join('\n')));
    // An upper bound: the time includes starting the key tool, which the key press is part of.
    qInfo("Ctrl+1 to the explain request: at most %lld ms (the key tool ran %lld ms)", pressed.elapsed(),
          keyTool);
    const QJsonObject body = requestsTo("/api/explain").constFirst()["json"].toObject();
    QCOMPARE(body["text"].toString(), QStringLiteral("Photosynthesis turns light into chemical energy."));

    QTRY_VERIFY_WITH_TIMEOUT(!panelWindow().isEmpty(), 5000);
    QVERIFY(isUnmanaged(panelWindow().toUInt()));
    // sway does not tell where the pointer is: the card opens in the upper middle of the editor.
    const QRect editorWindow = focusedWindow(
        QJsonDocument::fromJson(commandOutput("swaymsg", {"-t", "get_tree"}).toUtf8()).object());
    QVERIFY(editorWindow.isValid());
    QCOMPARE(inputArea(panelWindow().toUInt()).topLeft(),
             QPoint(editorWindow.center().x(), editorWindow.top() + editorWindow.height() / 4) +
                 QPoint(20, 20));
    QTest::qWait(500);
    QVERIFY(editor->hasFocus());
    QCOMPARE(editor->text(), QStringLiteral("Photosynthesis turns light into chemical energy."));
}

void TestSwayDesktop::ctrl2PastesTheTranscriptAndKeepsTheClipboard() {
    QVERIFY(QProcess::execute("wl-copy", {"the user's own words"}) == 0);
    QVERIFY(keys({"key", "End"}));
    QVERIFY(keys({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings().size(), 1, 5000);
    QTest::qWait(1500); // the length of the recording
    QElapsedTimer stopped;
    stopped.start();
    QVERIFY(keys({"key", "ctrl+2"}));
    const qint64 keyTool = stopped.elapsed();
    QVERIFY(millisecondsUntil([this] { return !requestsTo("/api/transcribe").isEmpty(); }, 15000) >= 0);
    const int bytes = requestsTo("/api/transcribe").constFirst()["bodyLength"].toInt();
    const QString expected = QStringLiteral("Demo transcription of %1 bytes of audio.").arg(bytes);
    const qint64 toPaste = millisecondsUntil([&] { return editor->text().endsWith(expected); }, 10000);
    QVERIFY2(toPaste >= 0, qPrintable(editor->text() + '\n' + app->lines().join('\n')));
    qInfo("Ctrl+2 (stop) to the transcript in the editor: at most %lld ms (the key tool ran %lld ms)",
          stopped.elapsed(), keyTool);
    QVERIFY(editor->hasFocus());
    // The first key the user types after the paste, on another keyboard, is not lost.
    QVERIFY(keys({"type", "!"}));
    QTRY_VERIFY2_WITH_TIMEOUT(editor->text().endsWith(expected + "!"), qPrintable(editor->text()), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(commandOutput("wl-paste", {"--no-newline"}),
                              QStringLiteral("the user's own words"), 5000);
}

void TestSwayDesktop::escapeCancelsARecordingAndIsFreeAgainAfterwards() {
    const qsizetype before = requestsTo("/api/transcribe").size();
    QVERIFY(keys({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings().size(), 1, 5000);
    QTest::qWait(800);
    QVERIFY(keys({"key", "Escape"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings(), QStringList(), 5000);
    QTest::qWait(1000); // no upload follows the cancel
    QCOMPARE(requestsTo("/api/transcribe").size(), before);

    // Without a recording, sway runs no binding of ours for Escape: the key is the editor's.
    const QString ran = bindingsRunBy("Escape");
    QVERIFY2(!ran.contains("quillpoint"), qPrintable(ran));
    QVERIFY(editor->hasFocus());
}

void TestSwayDesktop::quittingTakesTheBindingsOutAndLeavesTheClipboard() {
    app->process().terminate();
    QVERIFY(app->waitForExit());
    const QString ran = bindingsRunBy("ctrl+1");
    QVERIFY2(!ran.contains("quillpoint"), qPrintable(ran));
    // The clipboard the program gave back after its paste outlives it.
    QCOMPARE(commandOutput("wl-paste", {"--no-newline"}), QStringLiteral("the user's own words"));
}

// sway reports the release of a binding too, so hold to talk works: the recording runs while
// Ctrl+2 is held and is pasted when it goes up.
void TestSwayDesktop::holdingCtrl2RecordsUntilItIsReleased() {
    QVERIFY(!writeProgramSettings(backend.baseUrl(), "transcriptionHoldToTalk=true\n").isEmpty());
    app = std::make_unique<AppProcess>();
    app->start();
    QVERIFY2(app->waitForLine("AuthService: "), qPrintable(app->lines().join('\n')));
    const qsizetype before = requestsTo("/api/transcribe").size();
    QVERIFY(keys({"key", "End"}));
    // The bindings are made while the program starts; a press before they are in place is tried again.
    bool recording = false;
    for (int attempt = 0; attempt < 10 && !recording; ++attempt) {
        QVERIFY(keys({"press", "ctrl+2"}));
        recording = QTest::qWaitFor([this] { return recordings().size() == 1; }, 1000);
        if (!recording)
            QVERIFY(keys({"release", "ctrl+2"}));
    }
    QVERIFY2(recording, qPrintable(app->lines().join('\n')));
    QTest::qWait(1500); // the key held down, longer than the keyboard's repeat delay
    QCOMPARE(requestsTo("/api/transcribe").size(), before);
    QVERIFY(keys({"release", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(requestsTo("/api/transcribe").size(), before + 1, 15000);
    const int bytes = requestsTo("/api/transcribe").constLast()["bodyLength"].toInt();
    const QString expected = QStringLiteral("Demo transcription of %1 bytes of audio.").arg(bytes);
    QTRY_VERIFY2_WITH_TIMEOUT(editor->text().endsWith(expected), qPrintable(editor->text()), 10000);
    QVERIFY(editor->hasFocus());
}

// The user binds Ctrl+2 in sway's configuration and reloads it while Quillpoint runs: the key
// runs the user's command and Quillpoint says it is taken; Ctrl+1, still free, works again.
void TestSwayDesktop::aKeySwaysConfigurationBindsIsLeftToItAfterAReload() {
    const QString root = qEnvironmentVariable("QUILL_TEST_DESKTOP_ROOT");
    QDir(root).mkdir("bound");
    // sway runs the user's commands as its own user.
    QFile::setPermissions(root + "/bound", QFileDevice::Permissions(0x7777));
    const QString marker = root + "/bound/ctrl2";
    QFile config(root + "/sway.config");
    QVERIFY(config.open(QIODevice::Append));
    config.write(QStringLiteral("bindsym Ctrl+2 exec touch %1\n").arg(marker).toUtf8());
    config.close();
    QCOMPARE(QProcess::execute("swaymsg", {"-q", "reload"}), 0);
    QVERIFY2(app->waitForLine("Ctrl+2 is already used by another application"),
             qPrintable(app->lines().join('\n')));

    QVERIFY(keys({"key", "ctrl+2"}));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 5000);
    QTest::qWait(500); // no recording starts
    QCOMPARE(recordings(), QStringList());

    const qsizetype explained = requestsTo("/api/explain").size();
    QVERIFY(keys({"key", "ctrl+a"}));
    QVERIFY(keys({"key", "ctrl+1"}));
    QTRY_COMPARE_WITH_TIMEOUT(requestsTo("/api/explain").size(), explained + 1, 5000);
}

QTEST_MAIN(TestSwayDesktop)
#include "tst_sway_desktop.moc"
