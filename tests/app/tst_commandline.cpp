#include "app/ActionThrottle.h"
#include "app/CommandLine.h"
#include "app/Diagnostics.h"

#include <QTest>

using namespace quill;

class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    void parses_data();
    void parses();
    void actionNamesRoundTrip();
    void aBurstOfOneActionIsOneAction();
    void verdicts_data();
    void verdicts();
    void aWaylandSessionReportsThePortalAndThePanel();
    void aGnomeSessionReportsItsKeyBindingsAndTheBridgedClipboard();
    void aShortcutHeldByAnotherProgramSaysWhatToDo();
    void swayReportsItsBindingsItsKeyboardAndThePanel();
    void aForeignOwnerOfTheBusNameIsNamed();
};

Q_DECLARE_METATYPE(CommandLine::Mode)
Q_DECLARE_METATYPE(DiagnosticsInput)

void TestCommandLine::parses_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<CommandLine::Mode>("mode");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("text");
    using M = CommandLine::Mode;
    QTest::newRow("nothing") << QStringList{} << M::run << ""
                             << "";
    QTest::newRow("explain") << QStringList{"--explain"} << M::run << "explain"
                             << "";
    QTest::newRow("cancel") << QStringList{"--cancel"} << M::run << "cancel"
                            << "";
    QTest::newRow("history") << QStringList{"--history"} << M::run << "history"
                             << "";
    QTest::newRow("user action") << QStringList{"--action", "fix"} << M::run << "action"
                                 << "";
    QTest::newRow("user action without id") << QStringList{"--action"} << M::error << ""
                                            << "Missing value after '--action'";
    QTest::newRow("user action and explain") << QStringList{"--action=fix", "--explain"} << M::error << ""
                                             << "--explain, --action cannot be combined";
    QTest::newRow("help wins over an action") << QStringList{"--explain", "-h"} << M::help << ""
                                              << "--transcribe";
    QTest::newRow("version") << QStringList{"--version"} << M::version << ""
                             << "Quillpoint ";
    QTest::newRow("diagnose") << QStringList{"--diagnose"} << M::diagnose << ""
                              << "";
    QTest::newRow("unknown") << QStringList{"--explian"} << M::error << ""
                             << "Unknown option 'explian'";
    QTest::newRow("positional") << QStringList{"notes.txt"} << M::error << ""
                                << "unexpected argument 'notes.txt'";
    QTest::newRow("two actions") << QStringList{"--quit", "--preferences"} << M::error << ""
                                 << "--preferences, --quit cannot be combined";
    QTest::newRow("action and diagnose") << QStringList{"--explain", "--diagnose"} << M::error << ""
                                         << "--explain, --diagnose cannot be combined";
}

void TestCommandLine::parses() {
    QFETCH(QStringList, arguments);
    QFETCH(CommandLine::Mode, mode);
    QFETCH(QString, action);
    QFETCH(QString, text);
    const CommandLine parsed = CommandLine::parse(QStringList{"/usr/bin/quillpoint"} + arguments);
    QCOMPARE(parsed.mode, mode);
    QCOMPARE(parsed.action ? remoteActionName(*parsed.action) : QString(), action);
    QVERIFY2(parsed.text.contains(text), qPrintable(parsed.text));
    QCOMPARE(parsed.actionId, parsed.action == RemoteAction::action ? QStringLiteral("fix") : QString());
}

void TestCommandLine::actionNamesRoundTrip() {
    for (const QString name :
         {"explain", "transcribe", "cancel", "preferences", "history", "quit", "action"}) {
        const auto action = remoteActionNamed(name);
        QVERIFY(action);
        QCOMPARE(remoteActionName(*action), name);
    }
    QVERIFY(!remoteActionNamed("Explain"));
    QVERIFY(!remoteActionNamed(""));
}

void TestCommandLine::aBurstOfOneActionIsOneAction() {
    using std::chrono::milliseconds;
    ActionThrottle throttle;
    QVERIFY(throttle.admit(RemoteAction::explain, milliseconds(1000)));
    // Requests closer than the window to the one before are dropped, however long they go on.
    for (int t = 1040; t < 2000; t += 40)
        QVERIFY(!throttle.admit(RemoteAction::explain, milliseconds(t)));
    // Another action is not part of the burst.
    QVERIFY(throttle.admit(RemoteAction::cancel, milliseconds(1990)));
    QVERIFY(throttle.admit(RemoteAction::explain, milliseconds(2100)));
    QVERIFY(throttle.admit(RemoteAction::explain, milliseconds(2200)));

    // A second transcribe right after the first is a bounce; a stop a second later is not.
    QVERIFY(throttle.admit(RemoteAction::transcribe, milliseconds(3000)));
    QVERIFY(!throttle.admit(RemoteAction::transcribe, milliseconds(3200)));
    QVERIFY(throttle.admit(RemoteAction::transcribe, milliseconds(4000)));
    // Requests that waited while the action ran are measured from its end.
    throttle.performed(RemoteAction::transcribe, milliseconds(4600));
    QVERIFY(!throttle.admit(RemoteAction::transcribe, milliseconds(4800)));
    QVERIFY(throttle.admit(RemoteAction::transcribe, milliseconds(5200)));
}

namespace {

// A working X11 desktop with everything in place.
DiagnosticsInput workingDesktop() {
    DiagnosticsInput in;
    in.display = ":0";
    in.session.x11 = {true, true, true, true, false, {}};
    in.session.sound = {true, true, "pulseaudio 16.1", "mic", true, false};
    in.session.keyring = {true, true, false};
    in.session.bus.answered = true;
    in.session.bus.sessionBus = true;
    in.session.bus.accessibilityEnabled = true;
    in.backendAddress = "http://127.0.0.1:8787";
    in.healthStatus = 200;
    in.token = DiagnosticsInput::Token::present;
    in.authStatus = 415;
    in.modelsStatus = 200;
    in.models =
        ModelList{{{"gpt-5.2", "OpenAI GPT-5.2", false}}, ModelInfo{"whisper-1", "OpenAI Whisper", false}};
    return in;
}

} // namespace

void TestCommandLine::verdicts_data() {
    QTest::addColumn<DiagnosticsInput>("input");
    QTest::addColumn<bool>("explain");
    QTest::addColumn<bool>("transcribe");
    QTest::addColumn<QString>("line");

    QTest::newRow("everything") << workingDesktop() << true << true
                                << "Sign-in: the backend accepts the device token";
    DiagnosticsInput in = workingDesktop();
    in.session.x11 = {};
    in.session.x11.answered = true;
    in.display.clear();
    in.waylandDisplay = "wayland-0";
    QTest::newRow("Wayland without XWayland: read over AT-SPI, nothing pasted")
        << in << true << false << "Display: Wayland (wayland-0), no XWayland";
    in = workingDesktop();
    in.waylandDisplay = "wayland-0";
    in.session.wayland = {true, true, true, true};
    in.session.bus.remoteDesktopPortal = true;
    QTest::newRow("Plasma: keystrokes through the portal")
        << in << true << true << "Keystrokes: through the desktop's RemoteDesktop portal";
    in.session.bus.remoteDesktopPortal = false;
    QTest::newRow("Wayland without RemoteDesktop: XTEST on XWayland does not count")
        << in << true << false << "Keystrokes: none in this Wayland session";
    in.session.bus.accessibilityEnabled.reset();
    QTest::newRow("Wayland without keystrokes or accessibility: nothing read")
        << in << false << false << "install and start at-spi2-core (the AT-SPI bus)";
    in = workingDesktop();
    in.session.bus.accessibilityEnabled = false;
    QTest::newRow("accessibility off: copied instead")
        << in << true << true << "Accessibility bus: running, switched off";
    in.session.bus.accessibilityEnabled.reset();
    in.session.x11.xtest = false;
    QTest::newRow("no accessibility bus and no XTEST") << in << false << false << "XTEST: missing";
    in = workingDesktop();
    in.authStatus = 401;
    QTest::newRow("token refused") << in << false << false
                                   << "Sign-in: the backend refuses the device token (HTTP 401)";
    in = workingDesktop();
    in.healthStatus.reset();
    in.healthError = "Connection refused";
    in.authStatus.reset();
    QTest::newRow("backend down") << in << false << false
                                  << "Backend /health: no answer (Connection refused)";
    in = workingDesktop();
    in.token = DiagnosticsInput::Token::none;
    in.authStatus.reset();
    QTest::newRow("first start still to come") << in << true << true << "Sign-in: no device token yet";
    in = workingDesktop();
    in.models->models.clear();
    QTest::newRow("a backend without a model to answer with")
        << in << false << true
        << "Models: none: the backend has no model to answer with -- run Ollama (`ollama serve`) or a "
           "llama.cpp server (`llama-server`) on this computer, or set an upstream for the backend";
    in = workingDesktop();
    in.models->transcription.reset();
    QTest::newRow("a backend without a speech model")
        << in << true << false << "Speech model: none: the backend cannot transcribe";
    in = workingDesktop();
    in.models->models = {{"llama3.2:latest", "llama3.2", true}, {"qwen2.5:7b", "qwen2.5:7b", true}};
    QTest::newRow("local models by name")
        << in << true << true << "Models: llama3.2 (on this computer), qwen2.5:7b (on this computer)";
    in = workingDesktop();
    in.modelsStatus = 404;
    in.models.reset();
    QTest::newRow("a backend from before the list")
        << in << true << true << "Models: not listed by this backend (an older version)";
    in = workingDesktop();
    in.session.sound.defaultSourceIsMonitor = true;
    QTest::newRow("monitor source") << in << true << false << "default source mic is a monitor";
    in = workingDesktop();
    in.session.keyring.answered = false;
    in.token = DiagnosticsInput::Token::unreadable;
    QTest::newRow("keyring hung") << in << false << false << "Keyring: no answer in time";
}

void TestCommandLine::verdicts() {
    QFETCH(DiagnosticsInput, input);
    QFETCH(bool, explain);
    QFETCH(bool, transcribe);
    QFETCH(QString, line);
    const DiagnosticsReport report = buildDiagnosticsReport(input);
    QCOMPARE(report.explainWorks, explain);
    QCOMPARE(report.transcribeWorks, transcribe);
    QVERIFY2(report.lines.join('\n').contains(line), qPrintable(report.lines.join('\n')));
}

// In a Wayland session XWayland's free keys and XTEST say nothing about other applications'
// windows; the report names what does reach them.
void TestCommandLine::aWaylandSessionReportsThePortalAndThePanel() {
    DiagnosticsInput in = workingDesktop();
    in.waylandDisplay = "wayland-0";
    in.session.wayland = {true, true, true, true};
    in.session.x11.grabs = {{{Qt::Key_1, Qt::ControlModifier}, KeyGrabber::GrabResult::grabbed}};
    in.session.bus.globalShortcutsPortal = true;
    QStringList lines = buildDiagnosticsReport(in).lines;
    QVERIFY2(lines.filter("X11 key grabs").isEmpty(), qPrintable(lines.join('\n')));
    QVERIFY(lines.filter("XTEST").isEmpty());
    QVERIFY(
        lines.contains("Global shortcuts: through the desktop's GlobalShortcuts portal; the desktop may ask "
                       "to confirm them and changes them in its shortcut settings"));
    QVERIFY(lines.contains("Clipboard: Wayland data-control (read and set without focus)"));
    QVERIFY(lines.contains("Panel: an XWayland window beside the pointer, whose position KWin reports"));

    in.session.wayland = {true, true, false, false};
    in.session.bus.globalShortcutsPortal = false;
    lines = buildDiagnosticsReport(in).lines;
    QVERIFY(lines.filter("Global shortcuts: none in this session -- bind `quillpoint --explain`").size() ==
            1);
    QVERIFY(lines.contains("Clipboard: Wayland (only while a Quillpoint window has focus)"));
    QVERIFY(
        lines.contains("Panel: an XWayland window at the top centre of the main screen (Wayland hides the "
                       "pointer's position)"));
}

// GNOME without the GlobalShortcuts portal: Quillpoint's own custom key bindings, and mutter's
// bridge for the XWayland clipboard.
void TestCommandLine::aGnomeSessionReportsItsKeyBindingsAndTheBridgedClipboard() {
    DiagnosticsInput in = workingDesktop();
    in.waylandDisplay = "wayland-0";
    in.session.wayland = {true, true, false, false};
    in.session.bus.gnomeShell = true;
    in.session.bus.remoteDesktopPortal = true;
    in.shortcutNames = {"Explain", "Transcribe"};
    in.shortcutKeys = {"Ctrl+1", "Ctrl+2"};
    in.session.bus.gnomeBoundElsewhere = {std::nullopt, QStringLiteral("switch-to-workspace-2")};
    QStringList lines = buildDiagnosticsReport(in).lines;
    QCOMPARE(
        lines.filter("Global shortcuts").constFirst(),
        QStringLiteral("Global shortcuts: GNOME custom key bindings, put in GNOME's keyboard settings while "
                       "Quillpoint runs (no key release: hold to talk is off): Explain Ctrl+1 free, "
                       "Transcribe Ctrl+2 bound to \"switch-to-workspace-2\" in GNOME -- choose other keys "
                       "in Preferences"));
    QVERIFY2(
        lines.contains("Clipboard: X11 CLIPBOARD through XWayland; GNOME passes it to Wayland windows (read "
                       "and set without focus)"),
        qPrintable(lines.join('\n')));
    QVERIFY(lines.filter("GNOME asks to allow it at the first paste").size() == 1);

    // Where GNOME offers the portal, the portal holds the keys.
    in.session.bus.globalShortcutsPortal = true;
    lines = buildDiagnosticsReport(in).lines;
    QVERIFY(lines.filter("Global shortcuts")
                .constFirst()
                .startsWith("Global shortcuts: through the desktop's GlobalShortcuts portal"));
}

void TestCommandLine::aShortcutHeldByAnotherProgramSaysWhatToDo() {
    DiagnosticsInput in = workingDesktop();
    in.shortcutNames = {"Explain", "Transcribe"};
    in.shortcutKeys = {"Ctrl+1", "Ctrl+2"};
    in.session.x11.grabs = {{{Qt::Key_1, Qt::ControlModifier}, KeyGrabber::GrabResult::taken},
                            {{Qt::Key_2, Qt::ControlModifier}, KeyGrabber::GrabResult::grabbed}};
    QString shortcuts = buildDiagnosticsReport(in).lines.filter("Global shortcuts").constFirst();
    QCOMPARE(shortcuts,
             QStringLiteral("Global shortcuts: X11 key grabs: Explain Ctrl+1 taken by another program, "
                            "Transcribe Ctrl+2 free -- choose other keys in Preferences, or bind "
                            "`quillpoint --explain` and `quillpoint --transcribe` to keys in your "
                            "desktop's keyboard settings"));
    // Held by Quillpoint itself is no problem.
    in.session.bus.quillpointRunning = true;
    shortcuts = buildDiagnosticsReport(in).lines.filter("Global shortcuts").constFirst();
    QVERIFY(shortcuts.endsWith("Explain Ctrl+1 held by the running Quillpoint, Transcribe Ctrl+2 free"));
}

// In sway the shortcuts are sway bindings, keys come from a virtual keyboard and the panel
// is an unmanaged window over the focused one.
void TestCommandLine::swayReportsItsBindingsItsKeyboardAndThePanel() {
    DiagnosticsInput in = workingDesktop();
    in.waylandDisplay = "wayland-1";
    in.session.wayland = {true, true, true, false, true};
    in.session.sway.answered = true;
    in.session.sway.ipc = true;
    // sway's portal may list a RemoteDesktop that nothing serves; the program does not use it.
    in.session.bus.remoteDesktopPortal = true;
    in.shortcutNames = {"Explain", "Transcribe"};
    in.shortcutKeys = {"Ctrl+1", "Ctrl+2"};
    in.session.sway.bindings = {{{Qt::Key_1, Qt::ControlModifier}, KeyGrabber::GrabResult::grabbed},
                                {{Qt::Key_2, Qt::ControlModifier}, KeyGrabber::GrabResult::taken}};
    const DiagnosticsReport report = buildDiagnosticsReport(in);
    const QStringList& lines = report.lines;
    QVERIFY2(lines.contains("Global shortcuts: sway bindings that Quillpoint makes while it runs: Explain "
                            "Ctrl+1 free, Transcribe Ctrl+2 bound in sway's configuration -- choose other "
                            "keys in Preferences, or take the binding out of sway's configuration"),
             qPrintable(lines.join('\n')));
    QVERIFY(lines.contains("Keystrokes: through a virtual keyboard of the compositor (US layout)"));
    QVERIFY(lines.contains("Clipboard: Wayland data-control (read and set without focus)"));
    QVERIFY(lines.contains("Panel: an XWayland window that sway does not manage (it never takes the focus), "
                           "over the focused window"));
    QVERIFY(report.transcribeWorks);
}

void TestCommandLine::aForeignOwnerOfTheBusNameIsNamed() {
    DiagnosticsInput in = workingDesktop();
    QVERIFY(buildDiagnosticsReport(in).lines.filter("Session bus name").isEmpty());
    in.session.bus.foreignNameOwner = 4242;
    in.session.bus.foreignNameOwnerCommand = "squatter";
    QCOMPARE(buildDiagnosticsReport(in).lines.filter("Session bus name"),
             QStringList{"Session bus name: app.quillpoint.Quillpoint belongs to another program, squatter "
                         "(process 4242) -- `quillpoint --explain` and the other actions cannot reach "
                         "Quillpoint until that program ends"});
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
