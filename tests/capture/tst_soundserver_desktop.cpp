#include "AudioProbe.h"
#include "FakePlatform.h"
#include "SystemAudio.h"
#include "capture/AudioCaptureService.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

using namespace quill;
using namespace quill::test;

// The sound server comes and goes while the program runs: the desktop starts without one.
class TestSoundServerDesktop : public QObject {
    Q_OBJECT
private slots:
    void noSoundServer();
    void serverStartedAfterTheProgram();
    void serverDyingMidRecordingKeepsTheRecording();
    void cleanupTestCase();

private:
    bool startServer();

    AudioCaptureService service{soundServerRecorders()};
    QProcess server;
};

bool TestSoundServerDesktop::startServer() {
    const QString arguments = qEnvironmentVariable("QUILL_TEST_PULSE_ARGS");
    QStringList list;
    for (const QString& argument : arguments.split(QRegularExpression("\\s+(?=--)"), Qt::SkipEmptyParts)) {
        list << argument.trimmed();
    }
    server.setStandardErrorFile(QProcess::nullDevice());
    server.start("pulseaudio", list);
    if (!server.waitForStarted()) {
        return false;
    }
    return QTest::qWaitFor([] { return QProcess::execute("pactl", {"info"}) == 0; }, 10000) &&
           QProcess::execute("pactl", {"set-default-source", "quill_mic"}) == 0;
}

void TestSoundServerDesktop::noSoundServer() {
    test::LogCapture log;
    QSignalSpy failed(&service, &AudioCaptureService::recordingFailed);
    // The source reaches the server in the background: the failure comes a moment later.
    QVERIFY(service.startRecording());
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!service.isRecording());
    QVERIFY(!QFile::exists(service.recordingPath().value()));
    QCOMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines.first().startsWith("AudioRecorder: cannot record: no sound server"),
             qPrintable(log.lines.first()));
}

void TestSoundServerDesktop::serverStartedAfterTheProgram() {
    QVERIFY(startServer());
    QVERIFY(service.startRecording());
    QTest::qWait(1000);
    const auto path = service.stopRecording();
    QVERIFY(path.has_value());
    const auto probe = test::probeAudio(*path);
    AudioCaptureService::deleteRecording(*path);
    QCOMPARE(probe.codec, QStringLiteral("aac"));
    QVERIFY2(std::abs(probe.duration - 1.0) <= 0.2, qPrintable(QString::number(probe.duration)));
}

void TestSoundServerDesktop::serverDyingMidRecordingKeepsTheRecording() {
    test::LogCapture log;
    QVERIFY(service.startRecording());
    QTest::qWait(1000);
    server.kill();
    QVERIFY(server.waitForFinished());
    QTRY_COMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines.first().startsWith("AudioRecorder: the sound server ended the recording"),
             qPrintable(log.lines.first()));

    const auto path = service.stopRecording();
    QVERIFY(path.has_value());
    const auto probe = test::probeAudio(*path);
    AudioCaptureService::deleteRecording(*path);
    QCOMPARE(probe.codec, QStringLiteral("aac"));
    QCOMPARE(probe.sampleRate, 16000);
    QVERIFY2(probe.duration > 0.7 && probe.duration < 1.3, qPrintable(QString::number(probe.duration)));

    QSignalSpy failed(&service, &AudioCaptureService::recordingFailed);
    QVERIFY(service.startRecording()); // gone again
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(QDir(AudioCaptureService::recordingDirectory()).entryList({"quill_recording_*"}).isEmpty());
}

void TestSoundServerDesktop::cleanupTestCase() {
    if (server.state() != QProcess::NotRunning) {
        server.kill();
        server.waitForFinished();
    }
}

QTEST_GUILESS_MAIN(TestSoundServerDesktop)
#include "tst_soundserver_desktop.moc"
