#include "AppProcess.h"
#include "DesktopTools.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace quill::test;

namespace {

const QString busName = QStringLiteral("app.quillpoint.Quillpoint");

// A socket that takes connections into its backlog and never reads or answers a byte.
class SilentSocket {
public:
    explicit SilentSocket(const QString& path) : m_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const QByteArray bytes = path.toLocal8Bit();
        qstrncpy(address.sun_path, bytes.constData(), sizeof address.sun_path);
        m_listening = m_fd >= 0 && ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                      ::listen(m_fd, 64) == 0;
    }
    ~SilentSocket() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SilentSocket(const SilentSocket&) = delete;
    SilentSocket& operator=(const SilentSocket&) = delete;
    bool isListening() const { return m_listening; }

private:
    int m_fd;
    bool m_listening = false;
};

} // namespace

// Start-up against peers that accept a connection and then never answer: the program still
// takes command-line actions and ends on SIGTERM.
class TestStartupDesktop : public QObject {
    Q_OBJECT
private slots:
    void init();
    void silentAccessibilityBus();
    void stoppedAccessibilityBusLauncher();
    void silentWaylandCompositor();

private:
    void answersAndEnds(const QStringList& environment);

    QTemporaryDir dir;
};

void TestStartupDesktop::init() {
    QVERIFY(dir.isValid());
}

void TestStartupDesktop::answersAndEnds(const QStringList& environment) {
    QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
    QVERIFY(!bus->isServiceRegistered(busName));
    AppProcess app;
    app.start(environment);
    QTRY_VERIFY_WITH_TIMEOUT(bus->isServiceRegistered(busName), 10000);

    QProcess explain;
    explain.setProcessEnvironment(environmentWith(environment));
    explain.start(qEnvironmentVariable("QUILLPOINT_BINARY"), {"--explain"});
    QVERIFY(explain.waitForFinished(10000));
    QVERIFY2(explain.exitCode() == 0,
             qPrintable(explain.readAllStandardError() + '\n' + app.lines().join('\n')));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(::kill(pid_t(app.pid()), SIGTERM), 0);
    QVERIFY2(app.waitForExit(2000), qPrintable(app.lines().join('\n')));
    qInfo("ended %lld ms after SIGTERM", clock.elapsed());
    QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
}

void TestStartupDesktop::silentAccessibilityBus() {
    if (qEnvironmentVariable("QUILL_TEST_SESSION") != QLatin1String("x11"))
        QSKIP("the accessibility bus is the same in every session");
    const QString path = dir.filePath("a11y");
    SilentSocket silent(path);
    QVERIFY(silent.isListening());
    answersAndEnds({"AT_SPI_BUS_ADDRESS=unix:path=" + path});
}

void TestStartupDesktop::stoppedAccessibilityBusLauncher() {
    if (qEnvironmentVariable("QUILL_TEST_SESSION") != QLatin1String("x11"))
        QSKIP("the launcher is the same in every session");
    const auto launcher = QDBusConnection::sessionBus().interface()->servicePid("org.a11y.Bus");
    QVERIFY(launcher.isValid());
    QCOMPARE(::kill(pid_t(launcher.value()), SIGSTOP), 0);
    const auto resume = qScopeGuard([&] { ::kill(pid_t(launcher.value()), SIGCONT); });
    answersAndEnds({});
}

void TestStartupDesktop::silentWaylandCompositor() {
    if (qEnvironmentVariable("QUILL_TEST_SESSION") != QLatin1String("kwin"))
        QSKIP("needs a Wayland session");
    const QString path = dir.filePath("wayland-silent");
    SilentSocket silent(path);
    QVERIFY(silent.isListening());
    answersAndEnds({"WAYLAND_DISPLAY=" + path});
}

QTEST_GUILESS_MAIN(TestStartupDesktop)
#include "tst_startup_desktop.moc"
