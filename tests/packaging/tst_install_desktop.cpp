#include "AppProcess.h"
#include "DesktopTools.h"
#include "StatusNotifierHost.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quill::test;

namespace {

struct Result {
    int exitCode = -1;
    QString output;
};

Result run(const QString& program, const QStringList& arguments, const QStringList& extraEnvironment = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnvironment)
        env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit)
        return {-1, program + QStringLiteral(" did not finish: ") + QString::fromUtf8(process.readAll())};
    return {process.exitCode(), QString::fromUtf8(process.readAll())};
}

QString onlyFile(const QDir& dir, const QString& pattern) {
    const QStringList found = dir.entryList({pattern}, QDir::Files);
    return found.size() == 1 ? dir.filePath(found.first()) : QString();
}

} // namespace

// The Debian packages built from this build directory by scripts/package.sh, unpacked into a
// temporary root as dpkg would install them, and used from there as a user would.
class TestInstallDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void packagesHaveNoLintianErrors();
    void programIsStrippedAndItsSymbolsAreInTheDbgsymPackage();
    void desktopIntegrationFilesAreValidAndPointIntoThePackage();
    void installedProgramRegistersInTheTrayAndSignsIn();
    void backendUnitVerifiesAndStartsWhatThePackageHolds();
    void packagedBackendAnswersTheProgramsRequests();

private:
    QString path(const QString& inRoot) const { return m_root.path() + inRoot; }

    StatusNotifierHost m_host;
    QTemporaryDir m_root;
    QString m_program, m_backend, m_dbgsym;
};

void TestInstallDesktop::initTestCase() {
    const QDir packages(qEnvironmentVariable("QUILLPOINT_PACKAGE_DIR"));
    m_program = onlyFile(packages, QStringLiteral("quillpoint_*.deb"));
    m_backend = onlyFile(packages, QStringLiteral("quillpoint-backend_*.deb"));
    m_dbgsym = onlyFile(packages, QStringLiteral("quillpoint-dbgsym_*.ddeb"));
    QVERIFY2(!m_program.isEmpty() && !m_backend.isEmpty() && !m_dbgsym.isEmpty(),
             qPrintable(packages.path() + QStringLiteral(": ") + packages.entryList().join(u' ')));
    QVERIFY(m_root.isValid());
    for (const QString& package : {m_program, m_backend}) {
        const Result unpacked =
            run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), package, m_root.path()});
        QVERIFY2(unpacked.exitCode == 0, qPrintable(unpacked.output));
    }
    QVERIFY(m_host.start());
}

void TestInstallDesktop::packagesHaveNoLintianErrors() {
    const Result lintian =
        run(QStringLiteral("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error"),
                                        QStringLiteral("--no-tag-display-limit"), m_program, m_backend});
    QVERIFY2(lintian.exitCode == 0, qPrintable(lintian.output));
}

void TestInstallDesktop::programIsStrippedAndItsSymbolsAreInTheDbgsymPackage() {
    for (const char* file : {"/usr/bin/quillpoint", "/usr/lib/quillpoint/quillpoint-aac.so"}) {
        const Result sections = run(QStringLiteral("readelf"), {QStringLiteral("-S"), path(file)});
        QVERIFY2(sections.exitCode == 0, file);
        QVERIFY2(!sections.output.contains(QStringLiteral(".debug_info")), file);
        QVERIFY2(sections.output.contains(QStringLiteral(".gnu_debuglink")), file);
    }

    const Result notes = run(QStringLiteral("readelf"), {QStringLiteral("-n"), path("/usr/bin/quillpoint")});
    const auto buildId =
        QRegularExpression(QStringLiteral("Build ID: ([0-9a-f]{2})([0-9a-f]+)")).match(notes.output);
    QVERIFY2(buildId.hasMatch(), qPrintable(notes.output));
    const Result symbols = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), m_dbgsym});
    QVERIFY2(symbols.output.contains(QStringLiteral("./usr/lib/debug/.build-id/%1/%2.debug")
                                         .arg(buildId.captured(1), buildId.captured(2))),
             qPrintable(symbols.output));
}

void TestInstallDesktop::desktopIntegrationFilesAreValidAndPointIntoThePackage() {
    const QString desktopFile = path("/usr/share/applications/app.quillpoint.Quillpoint.desktop");
    const Result desktop = run(QStringLiteral("desktop-file-validate"), {desktopFile});
    QVERIFY2(desktop.exitCode == 0 && desktop.output.isEmpty(), qPrintable(desktop.output));
    const QString metainfo = path("/usr/share/metainfo/app.quillpoint.Quillpoint.metainfo.xml");
    const Result appstream =
        run(QStringLiteral("appstreamcli"),
            {QStringLiteral("validate"), QStringLiteral("--no-net"), QStringLiteral("--no-color"), metainfo});
    QVERIFY2(appstream.exitCode == 0, qPrintable(appstream.output));

    // The icon the desktop file names is in the icon theme, for panels as large and as small.
    QSettings entry(desktopFile, QSettings::IniFormat);
    const QString icon = entry.value(QStringLiteral("Desktop Entry/Icon")).toString();
    for (const char* file : {"scalable/apps/%1.svg", "16x16/apps/%1.png", "48x48/apps/%1.png",
                             "256x256/apps/%1.png", "symbolic/apps/%1-symbolic.svg"}) {
        QVERIFY2(QFile::exists(path("/usr/share/icons/hicolor/") + QString::fromLatin1(file).arg(icon)),
                 qPrintable(QString::fromLatin1(file).arg(icon)));
    }

    QSettings service(path("/usr/share/dbus-1/services/app.quillpoint.Quillpoint.service"),
                      QSettings::IniFormat);
    QCOMPARE(service.value(QStringLiteral("D-BUS Service/Name")).toString(),
             QStringLiteral("app.quillpoint.Quillpoint"));
    QCOMPARE(service.value(QStringLiteral("D-BUS Service/Exec")).toString(),
             QStringLiteral("/usr/bin/quillpoint"));
    QVERIFY(QFileInfo(path("/usr/bin/quillpoint")).isExecutable());
    QVERIFY(QFile::exists(path("/usr/share/man/man1/quillpoint.1.gz")));

    // One version everywhere a user or a software centre reads it.
    const QString version =
        run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_program, QStringLiteral("Version")})
            .output.trimmed();
    QFile metainfoFile(metainfo);
    QVERIFY(metainfoFile.open(QIODevice::ReadOnly));
    const auto release = QRegularExpression(QStringLiteral("<release version=\"([^\"]+)\""))
                             .match(QString::fromUtf8(metainfoFile.readAll()));
    QCOMPARE(release.captured(1), version);
    const Result changelog = run(QStringLiteral("zcat"), {path("/usr/share/doc/quillpoint/changelog.gz")});
    QVERIFY2(changelog.output.startsWith(QStringLiteral("quillpoint (%1)").arg(version)),
             qPrintable(changelog.output));
}

void TestInstallDesktop::installedProgramRegistersInTheTrayAndSignsIn() {
    qputenv("QUILLPOINT_BINARY", path("/usr/bin/quillpoint").toUtf8());
    QSignalSpy registered(&m_host, &StatusNotifierHost::StatusNotifierItemRegistered);
    AppProcess app;
    app.start({QStringLiteral("XDG_DATA_DIRS=") + path("/usr/share") + QStringLiteral(":/usr/share")});
    QVERIFY2(app.waitForLine(QStringLiteral("AuthService: Auto-authenticated as device-")),
             qPrintable(app.lines().join(u'\n')));
    QTRY_COMPARE_WITH_TIMEOUT(registered.size(), 1, 10000);
    const QString item = registered.at(0).at(0).toString();
    QCOMPARE(StatusNotifierHost::itemProperty(item, QStringLiteral("Title")), QStringLiteral("Quillpoint"));
    // The installed symbolic icon goes to the tray host by name, for the panel to tint.
    QCOMPARE(StatusNotifierHost::itemProperty(item, QStringLiteral("IconName")),
             QStringLiteral("app.quillpoint.Quillpoint-symbolic"));
    QVERIFY2(!app.lines().join(u'\n').contains(QStringLiteral("tray artwork could not be loaded")),
             qPrintable(app.lines().join(u'\n')));

    // The encoder is not loaded until the first recording, and then from the package.
    // A press on a busy machine can still go to no one before the X server has the grab in
    // effect for the focused client, so it is repeated.
    QVERIFY2(app.waitForLine("AppDelegate: Shortcuts registered"), qPrintable(app.lines().join(u'\n')));
    QVERIFY(!app.lines().join(u'\n').contains(QStringLiteral("AudioEncoderModule")));
    const QString loaded =
        QStringLiteral("AudioEncoderModule: loaded ") + path("/usr/lib/quillpoint/quillpoint-aac.so");
    bool recorded = false;
    for (int attempt = 0; attempt < 3 && !recorded; ++attempt) {
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+2")}));
        recorded = app.waitForLine(loaded, 6000);
    }
    QVERIFY2(recorded, qPrintable(app.lines().join(u'\n')));
    QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
}

void TestInstallDesktop::backendUnitVerifiesAndStartsWhatThePackageHolds() {
    const QString unit = path("/usr/lib/systemd/user/quillpoint-backend.service");
    const Result verify =
        run(QStringLiteral("systemd-analyze"), {QStringLiteral("--user"), QStringLiteral("verify"), unit});
    // Unknown keys and bad values are only warnings to systemd: any output is a fault here.
    QVERIFY2(verify.exitCode == 0 && verify.output.trimmed().isEmpty(), qPrintable(verify.output));

    QFile file(unit);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    const auto execStart =
        QRegularExpression(QStringLiteral("^ExecStart=(\\S+) (\\S+)$"), QRegularExpression::MultilineOption)
            .match(text);
    QVERIFY(execStart.hasMatch());
    QCOMPARE(execStart.captured(1), QStringLiteral("/usr/bin/node"));
    QVERIFY2(QFile::exists(path(execStart.captured(2))), qPrintable(execStart.captured(2)));
    QVERIFY(text.contains(QStringLiteral("HOST=127.0.0.1")));
    QVERIFY(text.contains(QStringLiteral("EnvironmentFile=-%E/quillpoint-backend/env")));
}

void TestInstallDesktop::packagedBackendAnswersTheProgramsRequests() {
    // The service as its unit starts it, on a free port and with fixed answers: the bundled
    // native module keeps the daily counts.
    QTemporaryDir state;
    QProcess backend;
    backend.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOST"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("PORT"), QStringLiteral("0"));
    env.insert(QStringLiteral("QUILLPOINT_DEMO"), QStringLiteral("1"));
    env.insert(QStringLiteral("QUILLPOINT_DATA_DIR"), state.path() + QStringLiteral("/quillpoint-backend"));
    backend.setProcessEnvironment(env);
    backend.setWorkingDirectory(QStringLiteral("/"));
    backend.start(QStringLiteral("node"), {path("/usr/lib/quillpoint-backend/src/main.js")});
    static const QRegularExpression listeningLine(
        QStringLiteral("listening on (http://127\\.0\\.0\\.1:\\d+)"));
    QString output;
    QRegularExpressionMatch listening;
    QDeadlineTimer deadline(20000);
    while (!listening.hasMatch() && !deadline.hasExpired() &&
           backend.waitForReadyRead(int(deadline.remainingTime()))) {
        output += QString::fromUtf8(backend.readAll());
        listening = listeningLine.match(output);
    }
    QVERIFY2(listening.hasMatch(), qPrintable(output));

    QNetworkAccessManager network;
    QNetworkRequest request(QUrl(listening.captured(1) + QStringLiteral("/api/explain")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Authorization", "Bearer device-install-test");
    std::unique_ptr<QNetworkReply> reply(
        network.post(request, R"({"text":"packaged","model":"gpt-5.2","detailed":false})"));
    QTRY_VERIFY_WITH_TIMEOUT(reply->isFinished(), 10000);
    QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    const QByteArray body = reply->readAll();
    QVERIFY2(body.contains("Demo") && body.contains("data: [DONE]"), body.constData());
    QVERIFY(QFile::exists(state.path() + QStringLiteral("/quillpoint-backend/quota.sqlite3")));

    backend.terminate();
    QVERIFY(backend.waitForFinished(15000));
    QCOMPARE(backend.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestInstallDesktop)
#include "tst_install_desktop.moc"
