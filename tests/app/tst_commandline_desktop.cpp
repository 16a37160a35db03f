#include "AppProcess.h"
#include "DesktopTools.h"
#include "TestBackend.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quill::test;

namespace {

struct Finished {
    bool exited = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QString out;
    QString err;
};

// Runs the program to its end. `environment` entries are KEY=VALUE, or -KEY to remove KEY.
Finished runQuillpoint(const QStringList& arguments, const QStringList& environment = {},
                       int timeoutMs = 10000) {
    QProcess process;
    process.setProcessEnvironment(environmentWith(environment));
    process.start(qEnvironmentVariable("QUILLPOINT_BINARY"), arguments);
    Finished result;
    result.exited = process.waitForFinished(timeoutMs);
    if (!result.exited) {
        process.kill();
        process.waitForFinished(1000);
    }
    result.status = process.exitStatus();
    result.code = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

// Calls the running instance's ActivateAction over the session bus, as a desktop launcher does.
Finished activateAction(const QString& action, int timeoutMs = 5000, const QString& parameter = "[]") {
    QProcess gdbus;
    gdbus.start("gdbus", {"call", "--session", "--dest", "app.quillpoint.Quillpoint", "--object-path",
                          "/app/quillpoint/Quillpoint", "--method",
                          "org.freedesktop.Application.ActivateAction", action, parameter, "{}"});
    Finished result;
    result.exited = gdbus.waitForFinished(timeoutMs);
    result.code = gdbus.exitCode();
    result.err = QString::fromUtf8(gdbus.readAllStandardError());
    return result;
}

const QStringList noDesktop{"-DISPLAY", "-WAYLAND_DISPLAY", "-DBUS_SESSION_BUS_ADDRESS", "-QT_QPA_PLATFORM"};

} // namespace

// The program run as a desktop key binding or a terminal runs it: options, the one instance on
// the session bus, and starting where there is no display.
class TestCommandLineDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void helpVersionAndMistakesNeedNoDisplay();
    void withoutADisplayItSaysSoAndExits();
    void offscreenStartsAndQuitsOnRequest();
    void twoLaunchesAtOnceMakeOneInstance();
    void actionsReachTheRunningInstanceLikeTheShortcut();
    void anActionCanStartItThroughDBusActivation();
    void anActionArrivingDuringACopyWaitsForIt();
    void anotherOwnerOfTheBusNameIsNotTakenForQuillpoint();
    void aFloodOfCallsIsOneActionAndAnsweredAtOnce();
    void theUsersActionsRunByTheirIds();

private:
    QList<QJsonObject> explainRequests() const;

    TestBackend backend;
    // Open from the first test that explains to the last.
    std::unique_ptr<EditedDocument> document;
};

void TestCommandLineDesktop::initTestCase() {
    QVERIFY(backend.start());
    QVERIFY(!writeProgramSettings(backend.baseUrl()).isEmpty());
}

void TestCommandLineDesktop::cleanupTestCase() {
    document.reset();
}

QList<QJsonObject> TestCommandLineDesktop::explainRequests() const {
    QList<QJsonObject> matching;
    for (const QJsonObject& request : backend.requests()) {
        if (request["path"].toString() == "/api/explain")
            matching << request;
    }
    return matching;
}

void TestCommandLineDesktop::helpVersionAndMistakesNeedNoDisplay() {
    const Finished version = runQuillpoint({"--version"}, noDesktop);
    QVERIFY(version.exited);
    QCOMPARE(version.code, 0);
    QVERIFY2(version.out.startsWith("Quillpoint "), qPrintable(version.out));

    const Finished help = runQuillpoint({"--help"}, noDesktop);
    QCOMPARE(help.code, 0);
    for (const char* option :
         {"--explain", "--transcribe", "--cancel", "--preferences", "--history", "--quit", "--diagnose"})
        QVERIFY2(help.out.contains(QLatin1String(option)), option);
    QVERIFY(help.out.startsWith("Usage: quillpoint [options]"));

    const Finished unknown = runQuillpoint({"--explian"}, noDesktop);
    QCOMPARE(unknown.status, QProcess::NormalExit);
    QCOMPARE(unknown.code, 2);
    QVERIFY2(unknown.err.contains("Unknown option 'explian'"), qPrintable(unknown.err));
    QVERIFY(unknown.err.contains("quillpoint --help"));

    const Finished both = runQuillpoint({"--explain", "--transcribe"}, noDesktop);
    QCOMPARE(both.code, 2);
    QVERIFY2(both.err.contains("cannot be combined"), qPrintable(both.err));
}

void TestCommandLineDesktop::withoutADisplayItSaysSoAndExits() {
    const Finished none = runQuillpoint({"--explain"}, noDesktop);
    QVERIFY(none.exited);
    QCOMPARE(none.status, QProcess::NormalExit);
    QCOMPARE(none.code, 1);
    QVERIFY2(none.err.contains("neither DISPLAY nor WAYLAND_DISPLAY is set"), qPrintable(none.err));

    // Quitting or cancelling what does not run is done, display or not.
    for (const char* option : {"--quit", "--cancel"}) {
        const Finished nothing = runQuillpoint({option}, noDesktop);
        QCOMPARE(nothing.code, 0);
        QVERIFY2(nothing.err.contains("Quillpoint is not running"), qPrintable(nothing.err));
    }

    // A Wayland socket without XWayland, and an X display where nobody listens.
    const Finished dead =
        runQuillpoint({}, {"-DISPLAY", "-QT_QPA_PLATFORM", "WAYLAND_DISPLAY=quill-none", "DISPLAY=:97"});
    QCOMPARE(dead.status, QProcess::NormalExit);
    QCOMPARE(dead.code, 1);
    QVERIFY2(dead.err.contains("Quillpoint cannot start"), qPrintable(dead.err));
}

void TestCommandLineDesktop::offscreenStartsAndQuitsOnRequest() {
    AppProcess app;
    app.start({"QT_QPA_PLATFORM=offscreen", "DISPLAY="});
    QVERIFY2(app.waitForLine("AuthService: "), qPrintable(app.lines().join('\n')));
    QVERIFY2(app.waitForLine("No global shortcuts in this session: bind `quillpoint --explain`"),
             qPrintable(app.lines().join('\n')));

    const Finished quit = runQuillpoint({"--quit"});
    QCOMPARE(quit.code, 0);
    QVERIFY(app.waitForExit(5000));
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process().exitCode(), 0);
}

void TestCommandLineDesktop::twoLaunchesAtOnceMakeOneInstance() {
    // A key binding pressed twice in quick succession: whichever comes second hands its action to
    // the other, even while that one is still starting.
    AppProcess first;
    AppProcess second;
    first.start({}, {"--preferences"});
    second.start({}, {"--preferences"});
    QTRY_VERIFY_WITH_TIMEOUT(first.process().state() == QProcess::NotRunning ||
                                 second.process().state() == QProcess::NotRunning,
                             10000);
    AppProcess& forwarder = first.process().state() == QProcess::NotRunning ? first : second;
    AppProcess& instance = &forwarder == &first ? second : first;
    QCOMPARE(forwarder.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(forwarder.process().exitCode() == 0, qPrintable(forwarder.lines().join('\n')));
    QCOMPARE(instance.process().state(), QProcess::Running);
    QCOMPARE(runQuillpoint({"--quit"}).code, 0);
    QVERIFY(instance.waitForExit(5000));
    QCOMPARE(instance.process().exitCode(), 0);

    // With nothing running, quitting and cancelling start nothing.
    const Finished quit = runQuillpoint({"--quit"});
    QCOMPARE(quit.code, 0);
    QVERIFY2(quit.err.contains("Quillpoint is not running"), qPrintable(quit.err));
}

void TestCommandLineDesktop::actionsReachTheRunningInstanceLikeTheShortcut() {
    const QString text = QStringLiteral("Mitochondria make most of the cell's chemical energy.");
    document = std::make_unique<EditedDocument>(text.toUtf8());
    QVERIFY(!document->window().isEmpty());
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));

    // No instance yet: this launch becomes it and explains once it is ready.
    AppProcess app;
    app.start({}, {"--explain"});
    QTRY_VERIFY2_WITH_TIMEOUT(explainRequests().size() == 1, qPrintable(app.lines().join('\n')), 15000);
    QCOMPARE(explainRequests().constLast()["json"].toObject()["text"].toString(), text);

    // A second launch hands the action over and leaves at once; the first keeps running.
    const Finished second = runQuillpoint({"--explain"});
    QCOMPARE(second.code, 0);
    QTRY_VERIFY_WITH_TIMEOUT(explainRequests().size() == 2, 15000);
    QCOMPARE(explainRequests().constLast()["json"].toObject()["text"].toString(), text);
    QCOMPARE(app.process().state(), QProcess::Running);

    QCOMPARE(activateAction("explain").code, 0);
    QTRY_VERIFY_WITH_TIMEOUT(explainRequests().size() == 3, 15000);

    // The panel never took the focus from the editor.
    QString active;
    QVERIFY(xdotool({"getactivewindow"}, &active));
    QCOMPARE(active, document->window());

    const Finished unknown = activateAction("explode");
    QVERIFY(unknown.exited);
    QVERIFY(unknown.code != 0);
    QVERIFY(unknown.err.contains("Unknown action \"explode\""));

    // Without an action a second launch still just says the program runs.
    const Finished plain = runQuillpoint({});
    QCOMPARE(plain.code, 1);
    QVERIFY(plain.err.contains("Quillpoint is already running"));

    const Finished quit = runQuillpoint({"--quit"});
    QCOMPARE(quit.code, 0);
    QVERIFY(app.waitForExit(5000));
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
    QCOMPARE(app.process().exitCode(), 0);
    QCOMPARE(explainRequests().size(), 3);
}

void TestCommandLineDesktop::anActionCanStartItThroughDBusActivation() {
    const QString services =
        QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/dbus-1/services";
    QVERIFY(QDir().mkpath(services));
    QFile service(services + "/app.quillpoint.Quillpoint.service");
    QVERIFY(service.open(QIODevice::WriteOnly));
    service.write("[D-BUS Service]\nName=app.quillpoint.Quillpoint\nExec=" +
                  qEnvironmentVariable("QUILLPOINT_BINARY").toUtf8() + "\n");
    service.close();
    QCOMPARE(QProcess::execute("gdbus",
                               {"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                                "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.ReloadConfig"}),
             0);
    const qsizetype before = explainRequests().size();

    // The call starts the program, and the action it carries waits for the launch.
    QCOMPARE(activateAction("explain", 15000).code, 0);
    QTRY_COMPARE_WITH_TIMEOUT(explainRequests().size(), before + 1, 15000);
    QFile::remove(service.fileName());
    const Finished quit = runQuillpoint({"--quit"});
    QCOMPARE(quit.code, 0);
    QVERIFY2(!quit.err.contains("Quillpoint is not running"), qPrintable(quit.err));
}

// The selection of an application without accessibility is read by a synthetic copy, during which
// the program keeps serving D-Bus. An action arriving then must not start a second copy inside
// the first (it would find the clipboard busy and explain nothing) but make its own after it.
void TestCommandLineDesktop::anActionArrivingDuringACopyWaitsForIt() {
    QTemporaryDir dir;
    QFile userContent(dir.filePath("user.txt"));
    QVERIFY(userContent.open(QIODevice::WriteOnly));
    userContent.write("what the user copied before");
    userContent.close();
    QProcess owner;
    owner.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), {"own", "text/plain=" + userContent.fileName()});
    QVERIFY(owner.waitForReadyRead(10000));

    const QString text = QStringLiteral("Chlorophyll absorbs red and blue light.");
    QProcess copier;
    copier.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), {"copier", "350", text});
    QVERIFY(!activateWindow("quill_clipboard_helper").isEmpty());

    AppProcess app;
    app.start();
    QVERIFY2(app.waitForLine("AuthService: "), qPrintable(app.lines().join('\n')));
    QVERIFY2(app.waitForLine("AppDelegate: Shortcuts registered"), qPrintable(app.lines().join(u'\n')));
    const qsizetype before = explainRequests().size();

    QVERIFY(xdotool({"key", "ctrl+1"}));
    QCOMPARE(activateAction("explain").code, 0);
    // Each explain copies once, the second after the first; it supersedes the first, whose request
    // may be cancelled before the backend answers.
    QByteArray copies;
    QTRY_VERIFY_WITH_TIMEOUT((copies += copier.readAllStandardOutput()).count("copy") >= 2, 15000);
    QTest::qWait(500);
    copies += copier.readAllStandardOutput();
    QCOMPARE(copies.count("copy"), 2);
    QTRY_VERIFY_WITH_TIMEOUT(explainRequests().size() > before, 15000);
    QCOMPARE(explainRequests().constLast()["json"].toObject()["text"].toString(), text);

    // Both copies gave the user's clipboard back.
    QProcess dump;
    dump.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), {"dump"});
    QVERIFY(dump.waitForFinished(10000));
    QVERIFY2(dump.readAllStandardOutput().contains(QByteArray("what the user copied before").toHex()),
             "the clipboard lost the user's content");

    QCOMPARE(runQuillpoint({"--quit"}).code, 0);
    QVERIFY(app.waitForExit(5000));
    copier.kill();
    copier.waitForFinished();
    owner.kill();
    owner.waitForFinished();
}

void TestCommandLineDesktop::anotherOwnerOfTheBusNameIsNotTakenForQuillpoint() {
    // This test process squats the program's bus name and answers none of its methods.
    QDBusConnection bus = QDBusConnection::sessionBus();
    QVERIFY(bus.registerService("app.quillpoint.Quillpoint"));
    auto releaseName = qScopeGuard([&] { bus.unregisterService("app.quillpoint.Quillpoint"); });

    const Finished quit = runQuillpoint({"--quit"});
    QCOMPARE(quit.code, 0);
    QVERIFY2(quit.err.contains("Quillpoint is not running"), qPrintable(quit.err));

    // The instance lock decides: the program starts, and says who holds its name.
    AppProcess app;
    app.start({"QT_QPA_PLATFORM=offscreen", "DISPLAY="});
    const QString owner = QString::number(QCoreApplication::applicationPid());
    QVERIFY2(app.waitForLine("which another program (process " + owner + ") owns"),
             qPrintable(app.lines().join('\n')));
    QCOMPARE(app.process().state(), QProcess::Running);

    // An action is not handed to the squatter.
    const Finished explain = runQuillpoint({"--explain"});
    QCOMPARE(explain.code, 1);
    QVERIFY2(explain.err.contains("belongs to another program (process " + owner + ")"),
             qPrintable(explain.err));

    app.process().terminate();
    QVERIFY(app.waitForExit(5000));
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
}

void TestCommandLineDesktop::aFloodOfCallsIsOneActionAndAnsweredAtOnce() {
    AppProcess app;
    app.start();
    QVERIFY2(app.waitForLine("AuthService: "), qPrintable(app.lines().join('\n')));
    QTRY_VERIFY_WITH_TIMEOUT(activateAction("cancel").code == 0, 10000);
    const auto transcribeRequests = [this] {
        int count = 0;
        for (const QJsonObject& request : backend.requests())
            count += request["path"].toString() == "/api/transcribe";
        return count;
    };
    const int before = transcribeRequests();

    // A script firing two thousand calls without waiting for the answers: one recording starts.
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto call = [](const QString& action) {
        QDBusMessage message =
            QDBusMessage::createMethodCall("app.quillpoint.Quillpoint", "/app/quillpoint/Quillpoint",
                                           "org.freedesktop.Application", "ActivateAction");
        message << action << QVariant::fromValue(QVariantList{}) << QVariant::fromValue(QVariantMap{});
        return message;
    };
    QList<QDBusPendingCall> flood;
    for (int i = 0; i < 2000; ++i)
        flood << bus.asyncCall(call("transcribe"), 20000);
    for (QDBusPendingCall& pending : flood) {
        pending.waitForFinished();
        QVERIFY2(!pending.isError(), qPrintable(pending.error().message()));
    }
    // One more, after the burst, stops it: exactly one recording reaches the backend.
    QTest::qWait(500);
    QCOMPARE(activateAction("transcribe").code, 0);
    QTRY_COMPARE_WITH_TIMEOUT(transcribeRequests(), before + 1, 15000);
    QTest::qWait(1000); // nothing else may follow
    QCOMPARE(transcribeRequests(), before + 1);

    // An unknown action's name is not echoed back whole.
    const QDBusMessage huge = bus.call(call(QString(1 << 20, u'x')), QDBus::Block, 10000);
    QCOMPARE(huge.type(), QDBusMessage::ErrorMessage);
    QVERIFY2(huge.errorMessage().size() < 300, qPrintable(huge.errorMessage().left(300)));
    QVERIFY(huge.errorMessage().contains("Unknown action"));

    QCOMPARE(runQuillpoint({"--quit"}).code, 0);
    QVERIFY(app.waitForExit(5000));
}

void TestCommandLineDesktop::theUsersActionsRunByTheirIds() {
    const QString path =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Quillpoint/actions.json";
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(R"({"actions": [
        {"id": "tl", "name": "Translate", "instruction": "Translate into English.", "result": "panel"},
        {"id": "off", "name": "Off", "instruction": "Nothing.", "result": "panel", "enabled": false}]})");
    file.close();
    const auto removeFile = qScopeGuard([&path] { QFile::remove(path); });

    // Nothing runs yet: an id that is not there ends the launch before it starts anything.
    const Finished early = runQuillpoint({"--action", "nope"});
    QCOMPARE(early.code, 2);
    QVERIFY2(early.err.contains("Unknown action \"nope\""), qPrintable(early.err));

    if (!document)
        document = std::make_unique<EditedDocument>("Bonjour tout le monde.");
    QVERIFY(!document->window().isEmpty());
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    const qsizetype before = explainRequests().size();
    AppProcess app;
    app.start({}, {"--action", "tl"});
    QTRY_VERIFY2_WITH_TIMEOUT(explainRequests().size() == before + 1, qPrintable(app.lines().join('\n')),
                              15000);
    QCOMPARE(explainRequests().constLast()["json"].toObject()["instruction"].toString(),
             QStringLiteral("Translate into English."));

    QCOMPARE(runQuillpoint({"--action", "tl"}).code, 0);
    QTRY_VERIFY_WITH_TIMEOUT(explainRequests().size() == before + 2, 15000);
    // The request leaves before the panel shows: a call at once would come within the moment
    // that takes it for a repeat of the same key press.
    QTest::qWait(400);
    QCOMPARE(activateAction("action", 5000, "[<'tl'>]").code, 0);
    QTRY_VERIFY2_WITH_TIMEOUT(explainRequests().size() == before + 3, qPrintable(app.lines().join('\n')),
                              15000);

    const Finished unknown = runQuillpoint({"--action", "nope"});
    QCOMPARE(unknown.code, 2);
    QVERIFY2(unknown.err.contains("Unknown action \"nope\""), qPrintable(unknown.err));
    const Finished off = runQuillpoint({"--action", "off"});
    QCOMPARE(off.code, 2);
    QVERIFY2(off.err.contains("\"off\" is turned off"), qPrintable(off.err));
    const Finished overBus = activateAction("action", 5000, "[<'" + QString(300, u'x') + "'>]");
    QVERIFY(overBus.code != 0);
    QVERIFY2(overBus.err.contains("Unknown action \"xxxx") && overBus.err.size() < 600,
             qPrintable(overBus.err));
    QVERIFY(activateAction("action", 5000, "[]").code != 0);
    QCOMPARE(explainRequests().size(), before + 3);

    QCOMPARE(runQuillpoint({"--quit"}).code, 0);
    QVERIFY(app.waitForExit(5000));
}

QTEST_GUILESS_MAIN(TestCommandLineDesktop)
#include "tst_commandline_desktop.moc"
