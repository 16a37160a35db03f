#include "AppProcess.h"
#include "DesktopTools.h"
#include "StatusNotifierHost.h"
#include "TestBackend.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace quill::test;

namespace {

struct Diagnosis {
    bool exited = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QStringList lines;

    // The line about `item`, empty when there is none.
    QString line(const QString& item) const {
        const QStringList found =
            lines.filter(QRegularExpression("^" + QRegularExpression::escape(item) + ": "));
        return found.isEmpty() ? QString() : found.constFirst();
    }
    QString all() const { return lines.join(u'\n'); }
};

// Runs `quillpoint --diagnose`. Entries are KEY=VALUE, or -KEY to remove KEY. Unless `serve`, this
// process's event loop does not run meanwhile, so that the services it offers on a bus (the tray
// host among them) never answer.
Diagnosis diagnose(const QStringList& environment = {}, bool serve = true) {
    QProcess process;
    process.setProcessEnvironment(environmentWith(environment));
    process.start(qEnvironmentVariable("QUILLPOINT_BINARY"), {"--diagnose"});
    Diagnosis result;
    if (serve) {
        QEventLoop loop;
        QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
        result.exited = process.state() == QProcess::NotRunning;
    } else {
        result.exited = process.waitForFinished(10000);
    }
    if (!result.exited) {
        process.kill();
        process.waitForFinished(1000);
    }
    result.status = process.exitStatus();
    result.code = process.exitCode();
    result.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    return result;
}

// A session bus of this test's own with nothing on it.
class PrivateBus {
public:
    ~PrivateBus() {
        QDBusConnection::disconnectFromBus(QStringLiteral("quill-private"));
        daemon.kill();
        daemon.waitForFinished(2000);
    }
    bool start() {
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon.waitForReadyRead(5000))
            return false;
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        return !address.isEmpty();
    }
    QDBusConnection connection() {
        return QDBusConnection::connectToBus(address, QStringLiteral("quill-private"));
    }

    QProcess daemon;
    QString address;
};

} // namespace

// `quillpoint --diagnose` in the test desktop: everything there, then one piece missing or
// broken at a time, then peers that never answer.
class TestDiagnoseDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void theFullDesktopWorksAndNothingChanges();
    void aMissingSoundServerOrAMonitorSourceFails();
    void noAccessibilityBusAndNoKeyringAreNamed();
    void hungPeersCannotHoldItUp();
    void aBackendWithoutAnyModelSaysWhatToDo();
    void aLockedKeyringFails();
    void aForeignOwnerOfTheBusNameIsNamed();

private:
    TestBackend backend;
    StatusNotifierHost host;
    QString configFile;
};

void TestDiagnoseDesktop::initTestCase() {
    QVERIFY(backend.start());
    QVERIFY(host.start());
    configFile = writeProgramSettings(backend.baseUrl());
    QVERIFY(!configFile.isEmpty());

    // A first start signs in and leaves its token in the keyring.
    AppProcess app;
    app.start();
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as "), qPrintable(app.lines().join('\n')));
    QProcess quit;
    quit.start(qEnvironmentVariable("QUILLPOINT_BINARY"), {"--quit"});
    QVERIFY(quit.waitForFinished(5000));
    QVERIFY(app.waitForExit(5000));
}

void TestDiagnoseDesktop::theFullDesktopWorksAndNothingChanges() {
    QFile config(configFile);
    QVERIFY(config.open(QIODevice::ReadOnly));
    const QByteArray before = config.readAll();
    config.close();
    const QString dataDir = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QStringList dataBefore = QDir(dataDir + "/Quillpoint").entryList(QDir::Files);

    const Diagnosis d = diagnose();
    QVERIFY(d.exited);
    QCOMPARE(d.status, QProcess::NormalExit);
    QVERIFY2(d.code == 0, qPrintable(d.all()));
    QVERIFY2(d.line("Display").startsWith("Display: X11"), qPrintable(d.all()));
    QVERIFY2(d.line("Global shortcuts").contains("Explain Ctrl+1 free, Transcribe Ctrl+2 free"),
             qPrintable(d.all()));
    QCOMPARE(d.line("Accessibility bus"), QStringLiteral("Accessibility bus: running, enabled"));
    QCOMPARE(d.line("XTEST"), QStringLiteral("XTEST: available"));
    QCOMPARE(d.line("Keyring"), QStringLiteral("Keyring: Secret Service running, unlocked"));
    QVERIFY2(d.line("Sound server").contains("default source quill_"), qPrintable(d.all()));
    QCOMPARE(d.line("Backend address"), "Backend address: " + backend.baseUrl());
    QCOMPARE(d.line("Backend /health"), QStringLiteral("Backend /health: answers"));
    QCOMPARE(d.line("Sign-in"), QStringLiteral("Sign-in: the backend accepts the device token"));
    QVERIFY2(d.line("Models").startsWith("Models: OpenAI GPT-5.2 (demo)"), qPrintable(d.all()));
    QVERIFY2(d.line("Speech model").startsWith("Speech model: "), qPrintable(d.all()));
    QCOMPARE(d.line("Tray"), QStringLiteral("Tray: StatusNotifier host"));
    QVERIFY(d.line("Autostart entry").contains("none"));
    QCOMPARE(d.lines.constLast(), QStringLiteral("Result: Explain can work, Transcribe can work"));

    // It asked the backend without spending anything and left every file as it was.
    QVERIFY(config.open(QIODevice::ReadOnly));
    QCOMPARE(config.readAll(), before);
    QCOMPARE(QDir(dataDir + "/Quillpoint").entryList(QDir::Files), dataBefore);
    QVERIFY(!QFile::exists(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                           "/autostart/app.quillpoint.Quillpoint.desktop"));
}

void TestDiagnoseDesktop::aMissingSoundServerOrAMonitorSourceFails() {
    const Diagnosis missing = diagnose({"PULSE_SERVER=unix:/nonexistent/quill-pulse"});
    QCOMPARE(missing.code, 1);
    QVERIFY2(missing.line("Sound server").startsWith("Sound server: missing -- start PulseAudio or PipeWire"),
             qPrintable(missing.all()));
    QCOMPARE(missing.lines.constLast(), QStringLiteral("Result: Explain can work, Transcribe cannot work"));

    QProcess pactl;
    pactl.start("pactl", {"get-default-source"});
    QVERIFY(pactl.waitForFinished(5000));
    const QString microphone = QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
    pactl.start("pactl", {"list", "short", "sources"});
    QVERIFY(pactl.waitForFinished(5000));
    QString monitor;
    for (const QString& row : QString::fromUtf8(pactl.readAllStandardOutput()).split(u'\n')) {
        const QString name = row.section(u'\t', 1, 1);
        if (name.endsWith(".monitor"))
            monitor = name;
    }
    QVERIFY(!monitor.isEmpty());
    QCOMPARE(QProcess::execute("pactl", {"set-default-source", monitor}), 0);
    const Diagnosis monitored = diagnose();
    QCOMPARE(QProcess::execute("pactl", {"set-default-source", microphone}), 0);
    QCOMPARE(monitored.code, 1);
    QVERIFY2(monitored.line("Sound server").contains(monitor + " is a monitor of an output"),
             qPrintable(monitored.all()));
}

void TestDiagnoseDesktop::noAccessibilityBusAndNoKeyringAreNamed() {
    PrivateBus bus;
    QVERIFY(bus.start());
    const Diagnosis d = diagnose({"DBUS_SESSION_BUS_ADDRESS=" + bus.address});
    QVERIFY(d.exited);
    QVERIFY2(d.line("Accessibility bus")
                 .startsWith("Accessibility bus: missing -- selections are read by a synthetic "
                             "copy instead"),
             qPrintable(d.all()));
    QVERIFY2(d.line("Keyring").startsWith("Keyring: missing (no Secret Service)"), qPrintable(d.all()));
    QVERIFY2(d.line("Tray").startsWith("Tray: no tray host"), qPrintable(d.all()));
    // Selections are still read by copying, and tokens fall back to a private file.
    QVERIFY2(d.code == 0, qPrintable(d.all()));
}

void TestDiagnoseDesktop::hungPeersCannotHoldItUp() {
    // Every peer accepts the connection and then says nothing: a keyring, an accessibility bus
    // and a tray watcher on the bus, a sound server, an X server and a backend.
    PrivateBus bus;
    QVERIFY(bus.start());
    QDBusConnection connection = bus.connection();
    QVERIFY(connection.isConnected());
    QObject silent;
    const std::pair<const char*, const char*> services[] = {
        {"org.freedesktop.secrets", "/org/freedesktop/secrets/aliases/default"},
        {"org.a11y.Bus", "/org/a11y/bus"},
        {"org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher"},
    };
    for (const auto& [name, path] : services) {
        QVERIFY(connection.registerObject(QLatin1String(path), &silent, QDBusConnection::ExportAllContents));
        QVERIFY(connection.registerService(QLatin1String(name)));
    }
    QTemporaryDir dir;
    QLocalServer pulse;
    QVERIFY(pulse.listen(dir.filePath("pulse")));
    QLocalServer x11;
    const QString xSocket =
        QStringLiteral("/tmp/.X11-unix/X%1").arg(200 + QCoreApplication::applicationPid() % 500);
    QLocalServer::removeServer(xSocket);
    QVERIFY(x11.listen(xSocket));
    QTcpServer http;
    QVERIFY(http.listen(QHostAddress::LocalHost));
    const QString configHome = dir.filePath("config");
    QVERIFY(
        !writeProgramSettings(QStringLiteral("http://127.0.0.1:%1").arg(http.serverPort()), {}, configHome)
             .isEmpty());

    const Diagnosis d =
        diagnose({"DBUS_SESSION_BUS_ADDRESS=" + bus.address, "PULSE_SERVER=unix:" + pulse.fullServerName(),
                  "DISPLAY=:" + xSocket.mid(xSocket.lastIndexOf('X') + 1), "XDG_CONFIG_HOME=" + configHome},
                 false);
    QFile::remove(xSocket);
    QVERIFY2(d.exited, qPrintable(d.all()));
    QCOMPARE(d.status, QProcess::NormalExit);
    QCOMPARE(d.code, 1);
    QVERIFY2(d.line("Display").contains("did not answer"), qPrintable(d.all()));
    QVERIFY2(d.line("Keyring").startsWith("Keyring: no answer in time"), qPrintable(d.all()));
    QVERIFY2(d.line("Sound server").startsWith("Sound server: no answer in time"), qPrintable(d.all()));
    QVERIFY2(d.line("Backend /health").startsWith("Backend /health: no answer"), qPrintable(d.all()));
    QCOMPARE(d.lines.constLast(), QStringLiteral("Result: Explain cannot work, Transcribe cannot work"));
}

void TestDiagnoseDesktop::aBackendWithoutAnyModelSaysWhatToDo() {
    // A backend as it starts with nothing configured and no local model server to find.
    TestBackend bare;
    QVERIFY(bare.start({"-QUILLPOINT_DEMO", "-OPENAI_API_KEY", "-OPENAI_BASE_URL", "-XAI_API_KEY",
                        "-XAI_BASE_URL", "-TRANSCRIBE_API_KEY", "-TRANSCRIBE_BASE_URL",
                        "QUILLPOINT_LOCAL_MODELS=off"}));
    QTemporaryDir dir;
    const QString configHome = dir.filePath("config");
    QVERIFY(!writeProgramSettings(bare.baseUrl(), {}, configHome).isEmpty());

    const Diagnosis d = diagnose({"XDG_CONFIG_HOME=" + configHome});
    QCOMPARE(d.code, 1);
    QCOMPARE(d.line("Sign-in"), QStringLiteral("Sign-in: the backend accepts the device token"));
    QVERIFY2(
        d.line("Models").startsWith("Models: none: the backend has no model to answer with -- run Ollama"),
        qPrintable(d.all()));
    QVERIFY2(d.line("Speech model")
                 .startsWith("Speech model: none: the backend cannot transcribe -- set "
                             "TRANSCRIBE_BASE_URL"),
             qPrintable(d.all()));
    QCOMPARE(d.lines.constLast(), QStringLiteral("Result: Explain cannot work, Transcribe cannot work"));
}

void TestDiagnoseDesktop::aLockedKeyringFails() {
    QDBusMessage lock = QDBusMessage::createMethodCall("org.freedesktop.secrets", "/org/freedesktop/secrets",
                                                       "org.freedesktop.Secret.Service", "Lock");
    lock << QVariant::fromValue(
        QList<QDBusObjectPath>{QDBusObjectPath("/org/freedesktop/secrets/aliases/default")});
    const QDBusMessage reply = QDBusConnection::sessionBus().call(lock, QDBus::Block, 5000);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage, qPrintable(reply.errorMessage()));

    const Diagnosis d = diagnose();
    QCOMPARE(d.code, 1);
    QVERIFY2(d.line("Keyring").startsWith("Keyring: Secret Service running, login keyring locked -- unlock"),
             qPrintable(d.all()));
    QCOMPARE(d.lines.constLast(), QStringLiteral("Result: Explain cannot work, Transcribe cannot work"));
}

void TestDiagnoseDesktop::aForeignOwnerOfTheBusNameIsNamed() {
    const QString name = QStringLiteral("squatter");
    {
        QDBusConnection squatter = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        QVERIFY(squatter.registerService("app.quillpoint.Quillpoint"));
        const Diagnosis d = diagnose();
        QFile comm(QStringLiteral("/proc/%1/comm").arg(QCoreApplication::applicationPid()));
        QVERIFY(comm.open(QIODevice::ReadOnly));
        QCOMPARE(d.line("Session bus name"),
                 QStringLiteral("Session bus name: app.quillpoint.Quillpoint belongs to another program, %1 "
                                "(process %2) -- `quillpoint --explain` and the other actions cannot reach "
                                "Quillpoint until that program ends")
                     .arg(QString::fromLocal8Bit(comm.readAll()).trimmed())
                     .arg(QCoreApplication::applicationPid()));
        QVERIFY2(d.line("Global shortcuts").contains("Ctrl+1 free"), qPrintable(d.all()));
    }
    QDBusConnection::disconnectFromBus(name);
}

QTEST_GUILESS_MAIN(TestDiagnoseDesktop)
#include "tst_diagnose_desktop.moc"
