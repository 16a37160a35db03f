#include "AppProcess.h"
#include "DesktopTools.h"
#include "SessionInput.h"
#include "TestBackend.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <csignal>
#include <functional>
#include <memory>
#include <unistd.h>

using namespace quill::test;

namespace {

// A page laid out so that its lines sit at the same place on screen in every browser: whatever
// the height of the browser's toolbars and bars of notices (70 to 140 pixels), row 290 of the
// window falls on the first paragraph's line, row 480 on the second's and row 680 in the text area.
const QByteArray kPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quill test page</title>
<style>
body { margin: 120px 0 0 100px; font: 24px/120px "DejaVu Sans", sans-serif; }
p { margin: 0 0 60px; white-space: nowrap; }
textarea { font: 20px "DejaVu Sans", sans-serif; width: 600px; height: 200px; }
</style></head><body>
<p>Mitochondria make the <a href="#energy">chemical energy</a> a cell needs.</p>
<p>Ribosomes build proteins.</p>
<textarea></textarea>
</body></html>
)";
const QString kPageSelection =
    QStringLiteral("Mitochondria make the chemical energy a cell needs.\n\nRibosomes build proteins.");

const QString kDocument = QStringLiteral("Photosynthesis turns light into chemical energy.");

// How an application is started and where a person selects text and types in it.
struct Application {
    QString program;
    // %DIR is a fresh directory of its own, %PAGE the test page's URL, %FILE a text document
    // holding kDocument, %TYPED the file a terminal writes what is typed into it to
    QStringList arguments;
    QStringList environment;
    QString windowClass;
    enum Kind { page, editor, terminal } kind = editor;
    QString readThrough; // how the program is expected to read the selection
    QString role = {};   // the accessible role it reads it from, when through accessibility
    // The application's name on the accessibility bus, by which a native Wayland window is
    // found (X11 tools see none), and by which a browser's page is known to be there to read.
    QString accessibleName = {};
    // A terminal's first line of text in pixels below the top its window reports, when the pointer
    // is to be moved in screen coordinates: xdotool's moves relative to Konsole's window miss
    // its terminal.
    int firstLineBelowTop = -1;
    // An editor's document and what selecting all of it sends, when not kDocument.
    QString document = {};
    QString selected = {};
};

} // namespace

Q_DECLARE_METATYPE(Application)

// The real program on the test desktop with real applications in front: browsers showing a
// local page, editors, an office suite and a terminal. In each, text is selected as a person
// does, Explain must send exactly that text and leave the user's clipboard as it was, and
// Transcribe must type into the application.
class TestApplicationsDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void explainAndTranscribe_data();
    void explainAndTranscribe();

private:
    QList<QJsonObject> requestsTo(const QString& path) const;
    // The `index`th explain request's text, once it arrives.
    QString explainedText(qsizetype index);
    QStringList linesSince(qsizetype first) const { return app.lines().mid(first); }
    // What a failure shows of the program: its lines since `first`, or its last ones and
    // whether it still runs when it said nothing since.
    QString programLog(qsizetype first);
    QString startApplication(const Application& application);
    bool waitForWindow(const Application& application, QString* window);
    bool transcribe();
    // Presses a shortcut, and once more if the program never heard of it: the injected key is
    // now and then lost on a loaded test desktop. What reaches the program is never repeated.
    bool pressShortcut(const QStringList& keys, qsizetype firstLine);
    bool keyEventSince(qsizetype firstLine) const;
    void warnKeyLost(qsizetype firstLine);
    // X11: holds Ctrl+1 down until `done`, or 10 s, and tells whether `done` came first. Pressed
    // again, as above, if the program never heard of it.
    bool holdExplainShortcutUntil(const std::function<bool()>& done, qsizetype firstLine);
    // Puts `text` on the clipboard as a person's clipboard tool does, held until something else
    // takes the clipboard or the row ends.
    bool holdClipboard(const QString& text);
    QString clipboardText() const;

    TestBackend backend;
    std::unique_ptr<MicFeeder> microphone;
    AppProcess app;
    QTemporaryDir files;
    QProcess target;
    QProcess clipboardOwner;
};

void TestApplicationsDesktop::initTestCase() {
    QVERIFY(backend.start());
    QVERIFY(!writeProgramSettings(backend.baseUrl()).isEmpty());
    QFile page(files.filePath("page.html"));
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write(kPage);
    page.close();

    microphone = std::make_unique<MicFeeder>(speechPcm("Please write this down, one two three."));
    // The program's time marks show how far a failed read got.
    app.start({"QT_LOGGING_RULES=quillpoint.latency.debug=true"});
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as "), qPrintable(app.lines().join('\n')));
    QVERIFY2(app.waitForLine("AppDelegate: Shortcuts registered"), qPrintable(app.lines().join(u'\n')));
}

void TestApplicationsDesktop::cleanup() {
    // Browsers and office suites run helper processes: end the whole session of them.
    if (target.state() != QProcess::NotRunning) {
        ::kill(-static_cast<pid_t>(target.processId()), SIGKILL);
        target.waitForFinished(5000);
    }
    if (clipboardOwner.state() != QProcess::NotRunning) {
        clipboardOwner.kill();
        clipboardOwner.waitForFinished(5000);
    }
}

QList<QJsonObject> TestApplicationsDesktop::requestsTo(const QString& path) const {
    QList<QJsonObject> matching;
    for (const QJsonObject& request : backend.requests()) {
        if (request["path"].toString() == path)
            matching << request;
    }
    return matching;
}

QString TestApplicationsDesktop::explainedText(qsizetype index) {
    if (!QTest::qWaitFor([&] { return requestsTo("/api/explain").size() > index; }, 20000))
        return QStringLiteral("(no request)");
    return requestsTo("/api/explain").at(index)["json"].toObject()["text"].toString();
}

QString TestApplicationsDesktop::programLog(qsizetype first) {
    const QStringList all = app.lines();
    QStringList shown = all.mid(first);
    if (shown.isEmpty())
        shown = all.mid(std::max<qsizetype>(0, all.size() - 40));
    if (app.process().state() == QProcess::NotRunning)
        shown << QStringLiteral("(the program has ended: status %1, code %2)")
                     .arg(int(app.process().exitStatus()))
                     .arg(app.process().exitCode());
    return shown.join(u'\n');
}

QString TestApplicationsDesktop::startApplication(const Application& application) {
    const QString dir = files.filePath(QString::number(QDateTime::currentMSecsSinceEpoch()));
    QDir().mkpath(dir + "/profile");
    QFile document(dir + "/notes.txt");
    if (!document.open(QIODevice::WriteOnly))
        return {};
    document.write((application.document.isEmpty() ? kDocument : application.document).toUtf8() + "\n");
    document.close();
    // A person's browser is past its first run: no notices or tabs of its own come up over the page.
    QFile firefoxPreferences(dir + "/profile/user.js");
    if (!firefoxPreferences.open(QIODevice::WriteOnly))
        return {};
    firefoxPreferences.write(R"(user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.policy.firstRunURL", "");
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("browser.aboutwelcome.enabled", false);
)");
    firefoxPreferences.close();
    QStringList arguments;
    for (QString argument : application.arguments) {
        argument.replace("%DIR", dir + "/profile");
        argument.replace("%PAGE", QUrl::fromLocalFile(files.filePath("page.html")).toString());
        argument.replace("%FILE", document.fileName());
        argument.replace("%TYPED", files.filePath("typed.txt"));
        arguments << argument;
    }
    target.setProcessEnvironment(environmentWith(application.environment));
    target.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    target.setStandardOutputFile(QProcess::nullDevice());
    target.setChildProcessModifier([] { ::setsid(); });
    target.start(application.program, arguments);
    if (!target.waitForStarted())
        return {};
    QString window;
    if (!waitForWindow(application, &window))
        return {};
    QTest::qWait(2500);
    if (onKWin())
        return window;
    xdotool({"windowactivate", "--sync", window});
    // A browser builds what it tells the accessibility bus after it shows the page.
    if (!application.accessibleName.isEmpty() && application.readThrough == "accessibility") {
        const QString title = QStringLiteral("Quill test page");
        if (!QTest::qWaitFor([&] { return accessibleWindowIsActive(application.accessibleName, title); },
                             30000))
            return {};
    }
    return window;
}

// A browser names its window after the page once the page has loaded.
bool TestApplicationsDesktop::waitForWindow(const Application& application, QString* window) {
    const QString title =
        application.kind == Application::page ? QStringLiteral("Quill test page") : QString();
    QElapsedTimer waited;
    waited.start();
    if (onKWin()) {
        // KWin activates a new window; it is known on the accessibility bus once laid out.
        *window = application.accessibleName;
        while (!accessibleWindowIsActive(application.accessibleName, title)) {
            if (waited.hasExpired(60000))
                return false;
            QTest::qWait(250);
        }
        return true;
    }
    QString windows;
    while (!xdotool({"search", "--onlyvisible", "--class", application.windowClass}, &windows)) {
        if (waited.hasExpired(40000))
            return false;
        QTest::qWait(250);
    }
    *window = windows.split('\n').constLast();
    // The window maps before its content is laid out and known on the accessibility bus.
    if (!title.isEmpty()) {
        while (!xdotool({"search", "--onlyvisible", "--name", title}, &windows)) {
            if (waited.hasExpired(50000))
                return false;
            QTest::qWait(250);
        }
        *window = windows.split('\n').constFirst();
    }
    return true;
}

bool TestApplicationsDesktop::keyEventSince(qsizetype firstLine) const {
    return !linesSince(firstLine).filter("quillpoint.latency: key event").isEmpty();
}

void TestApplicationsDesktop::warnKeyLost(qsizetype firstLine) {
    qWarning("The shortcut did not reach the program; pressing it again. Its log:\n%s",
             qPrintable(programLog(firstLine)));
}

bool TestApplicationsDesktop::pressShortcut(const QStringList& keys, qsizetype firstLine) {
    const auto arrived = [&] { return keyEventSince(firstLine); };
    if (!pressKeys(keys))
        return false;
    if (QTest::qWaitFor(arrived, 10000))
        return true;
    warnKeyLost(firstLine);
    return pressKeys(keys);
}

bool TestApplicationsDesktop::holdExplainShortcutUntil(const std::function<bool()>& done,
                                                       qsizetype firstLine) {
    const auto arrived = [&] { return keyEventSince(firstLine); };
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!xdotool({"keydown", "ctrl+1"}))
            return false;
        const bool heard = QTest::qWaitFor(arrived, 10000);
        const bool doneWhileHeld = heard && QTest::qWaitFor(done, 10000);
        if (!xdotool({"keyup", "ctrl+1"}))
            return false;
        if (heard)
            return doneWhileHeld;
        warnKeyLost(firstLine);
    }
    return false;
}

bool TestApplicationsDesktop::holdClipboard(const QString& text) {
    if (onKWin()) {
        clipboardOwner.start("wl-copy", {"--foreground", "--type", "text/plain", text});
    } else {
        clipboardOwner.start("xclip", {"-selection", "clipboard", "-quiet", "-i"});
        clipboardOwner.write(text.toUtf8());
        clipboardOwner.closeWriteChannel();
    }
    return clipboardOwner.waitForStarted() && QTest::qWaitFor([&] { return clipboardText() == text; }, 10000);
}

QString TestApplicationsDesktop::clipboardText() const {
    return onKWin() ? commandOutput("wl-paste", {"--no-newline"})
                    : commandOutput("xclip", {"-o", "-selection", "clipboard"});
}

bool TestApplicationsDesktop::transcribe() {
    const qsizetype before = requestsTo("/api/transcribe").size();
    if (!pressKeys({"ctrl+2"}))
        return false;
    QTest::qWait(2500);
    if (!pressKeys({"ctrl+2"}))
        return false;
    if (!QTest::qWaitFor([&] { return requestsTo("/api/transcribe").size() > before; }, 15000))
        return false;
    // The paste follows the answer.
    QTest::qWait(1500);
    return true;
}

void TestApplicationsDesktop::explainAndTranscribe_data() {
    QTest::addColumn<Application>("application");
    const QString terminalCommand = "printf '%s\\n' '" + kDocument + "'; cat > %TYPED";
    // Chromium refuses to run as root inside its sandbox; the other switches keep a fresh
    // profile from reaching out to the network and from opening its first-run pages, and leave
    // the GPU process out, which a virtual display cannot serve anyway.
    const QStringList chromium = {"--no-sandbox",
                                  "--user-data-dir=%DIR",
                                  "--no-first-run",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--disable-gpu",
                                  "--password-store=basic"};
    const QStringList firefox = {"--no-remote", "--new-instance", "--profile", "%DIR", "%PAGE"};
    // Paragraphs, one of them empty: each is an object of its own there.
    const Application writer{
        "soffice",
        {"--writer", "--norestore", "--nologo", "-env:UserInstallation=file://%DIR", "%FILE"},
        {"SAL_USE_VCLPLUGIN=gtk3"},
        "libreoffice",
        Application::editor,
        "accessibility",
        "paragraph",
        {},
        -1,
        kDocument + "\n\nPlants store it as sugar.\nAnimals eat the plants.",
        kDocument + "\nPlants store it as sugar.\nAnimals eat the plants."};
    // "--force-renderer-accessibility" is what a screen reader switches on.
    if (onKWin()) {
        // Each as a native Wayland client.
        QTest::newRow("firefox") << Application{"firefox-esr",  firefox,           {"MOZ_ENABLE_WAYLAND=1"},
                                                "firefox-esr",  Application::page, "accessibility",
                                                "document web", "Firefox"};
        QTest::newRow("chromium") << Application{"chromium",
                                                 chromium + QStringList{"--ozone-platform=wayland", "%PAGE"},
                                                 {},
                                                 "chromium",
                                                 Application::page,
                                                 "a copy",
                                                 {},
                                                 "Chromium"};
        QTest::newRow("chromium-accessibility") << Application{
            "chromium",
            chromium + QStringList{"--ozone-platform=wayland", "--force-renderer-accessibility", "%PAGE"},
            {},
            "chromium",
            Application::page,
            "accessibility",
            "document web",
            "Chromium"};
        QTest::newRow("gnome-text-editor") << Application{"gnome-text-editor",
                                                          {"--standalone", "%FILE"},
                                                          {"GDK_BACKEND=wayland"},
                                                          "gnome-text-editor",
                                                          Application::editor,
                                                          "accessibility",
                                                          "text",
                                                          "gnome-text-editor"};
        QTest::newRow("kwrite") << Application{
            "kwrite", {"%FILE"}, {"QT_QPA_PLATFORM=wayland"}, "kwrite", Application::editor, "accessibility",
            "text",   "kwrite"};
        Application wayland = writer;
        wayland.environment << "GDK_BACKEND=wayland";
        wayland.accessibleName = "soffice";
        QTest::newRow("libreoffice-writer") << wayland;
        return;
    }
    QTest::newRow("firefox") << Application{"firefox-esr",  firefox,           {},
                                            "firefox-esr",  Application::page, "accessibility",
                                            "document web", "Firefox"};
    QTest::newRow("chromium") << Application{
        "chromium", chromium + QStringList{"%PAGE"}, {}, "chromium", Application::page, "a copy"};
    QTest::newRow("chromium-accessibility")
        << Application{"chromium",
                       chromium + QStringList{"--force-renderer-accessibility", "%PAGE"},
                       {},
                       "chromium",
                       Application::page,
                       "accessibility",
                       "document web",
                       "Chromium"};
    QTest::newRow("gnome-text-editor")
        << Application{"gnome-text-editor", {"--standalone", "%FILE"}, {},    "gnome-text-editor",
                       Application::editor, "accessibility",           "text"};
    QTest::newRow("kwrite") << Application{"kwrite",        {"%FILE"}, {}, "kwrite", Application::editor,
                                           "accessibility", "text"};
    QTest::newRow("libreoffice-writer") << writer;
    QTest::newRow("xterm") << Application{
        "xterm",
        {"-fa", "DejaVu Sans Mono", "-fs", "14", "-e", "sh", "-c", terminalCommand},
        {},
        "xterm",
        Application::terminal,
        "the primary selection"};
    // Its tool bar stays above the terminal; the copy key is Ctrl+Shift+C.
    QTest::newRow("konsole") << Application{
        "konsole",
        {"--separate", "--hide-menubar", "--hide-tabbar", "-e", "sh", "-c", terminalCommand},
        {},
        "konsole",
        Application::terminal,
        "accessibility",
        "terminal",
        {},
        20};
}

void TestApplicationsDesktop::explainAndTranscribe() {
    QFETCH(Application, application);
    if (QStandardPaths::findExecutable(application.program).isEmpty())
        QSKIP("not installed");
    const qsizetype firstLine = app.lines().size();
    const qsizetype explained = requestsTo("/api/explain").size();
    const QString window = startApplication(application);
    QVERIFY2(!window.isEmpty(), "the application showed no window");

    // A person drags the mouse over a page's paragraphs and a terminal's line and selects all
    // of an editor's text with Ctrl+A. In KWin no client learns where a Wayland window is on
    // the screen, so keys select everything there: a page's two paragraphs and its empty text
    // area read the same as the drag over the paragraphs.
    const QString expected = application.kind == Application::page ? kPageSelection
                             : application.selected.isEmpty()      ? kDocument
                                                                   : application.selected;
    const QString userClipboard = QStringLiteral("The user's own clipboard in ") + QTest::currentDataTag();
    QVERIFY(holdClipboard(userClipboard));
    if (onKWin()) {
        QVERIFY(pressKeys({"ctrl+a"}));
    } else {
        switch (application.kind) {
        case Application::page:
            QVERIFY(xdotool({"mousemove", "--window", window, "60", "290", "mousedown", "1"}));
            QVERIFY(xdotool({"mousemove", "--window", window, "400", "380"}));
            QVERIFY(xdotool({"mousemove", "--window", window, "600", "480", "mouseup", "1"}));
            break;
        case Application::editor:
            QVERIFY(pressKeys({"ctrl+a"}));
            break;
        case Application::terminal:
            if (application.firstLineBelowTop >= 0) {
                QVERIFY(dragAlongScreenRow(window, application.firstLineBelowTop));
            } else {
                QVERIFY(xdotool({"mousemove", "--window", window, "2", "10", "mousedown", "1"}));
                QVERIFY(xdotool({"mousemove", "--window", window, "900", "10", "mouseup", "1"}));
            }
            break;
        }
    }
    // A person takes a moment between selecting and pressing the shortcut; browsers and office
    // suites update what they tell the accessibility bus in that time.
    QTest::qWait(2000);
    // On X11 the server keeps the keyboard grabbed for the program while the shortcut is down,
    // and some applications then report no focus (GTK 4) or announce it on an object without
    // text (LibreOffice). The selection is read all the same, without waiting for the release:
    // a person who holds the keys a moment gets the answer no later.
    if (!onKWin() && application.readThrough == "accessibility") {
        QVERIFY2(holdExplainShortcutUntil([&] { return requestsTo("/api/explain").size() > explained; },
                                          firstLine),
                 qPrintable("no request while the shortcut was held\n--- the program's log:\n" +
                            programLog(firstLine)));
    } else {
        QVERIFY(pressShortcut({"ctrl+1"}, firstLine));
    }
    const QString sent = explainedText(explained).trimmed();
    const QStringList lines = linesSince(firstLine);
    QVERIFY2(sent == expected, qPrintable(sent + "\n--- the program's log:\n" + programLog(firstLine)));
    QVERIFY2(!lines.filter("through " + application.readThrough).isEmpty(), qPrintable(lines.join('\n')));
    // The object's role is logged once the selection is on its way.
    if (!application.role.isEmpty())
        QTRY_VERIFY2_WITH_TIMEOUT(
            !linesSince(firstLine).filter("selection of a " + application.role + " in").isEmpty(),
            qPrintable(linesSince(firstLine).join('\n')), 5000);
    // However the selection was read, a copy included, the user's clipboard is as it was.
    QVERIFY2(QTest::qWaitFor([&] { return clipboardText() == userClipboard; }, 10000),
             qPrintable(clipboardText()));

    // Transcribe types where the person's cursor is: the page's text area (two Tabs away, past
    // the link), the end of the document, the terminal's input. Reading it back proves it
    // landed in an editable place.
    switch (application.kind) {
    case Application::page:
        if (onKWin())
            QVERIFY(pressKeys({"Tab", "Tab"}));
        else
            QVERIFY(xdotool({"mousemove", "--window", window, "300", "680", "click", "1"}));
        break;
    case Application::editor:
        QVERIFY(pressKeys({"ctrl+End"}));
        break;
    case Application::terminal:
        break;
    }
    QVERIFY(transcribe());
    const int bytes = requestsTo("/api/transcribe").constLast()["bodyLength"].toInt();
    const QString transcript = QStringLiteral("Demo transcription of %1 bytes of audio.").arg(bytes);
    if (application.kind == Application::terminal) {
        QVERIFY(pressKeys({"Return"}));
        const auto typed = [this] {
            QFile file(files.filePath("typed.txt"));
            return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(typed(), transcript + "\n", 5000);
        return;
    }
    QVERIFY(pressKeys({"ctrl+a"}));
    QTest::qWait(300);
    QVERIFY(pressShortcut({"ctrl+1"}, app.lines().size()));
    const QString readBack = explainedText(explained + 1);
    QVERIFY2(readBack.endsWith(transcript),
             qPrintable(readBack + "\n--- the program's log:\n" + linesSince(firstLine).join('\n')));
    if (application.kind == Application::page)
        QCOMPARE(readBack, transcript);
}

QTEST_MAIN(TestApplicationsDesktop)
#include "tst_applications_desktop.moc"
