#include "AudioProbe.h"
#include "DesktopTools.h"
#include "FakePlatform.h"
#include "SystemAudio.h"
#include "capture/AudioCaptureService.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QTest>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

using namespace quill;
using namespace quill::test;

// Against the test desktop's PulseAudio, whose default source is a pipe this test feeds.
class TestAudioCaptureDesktop : public QObject {
    Q_OBJECT
private slots:
    void recordsTheDefaultSource();
    void outputMonitorIsNoMicrophone();
};

void TestAudioCaptureDesktop::recordsTheDefaultSource() {
    const QByteArray pcm =
        speechPcm(QStringLiteral("Testing the microphone, one two three, the quick brown fox."));
    QVERIFY(pcm.size() > 16000 * 2);
    MicFeeder feeder(pcm);
    QTest::qWait(300);

    AudioCaptureService service{soundServerRecorders()};
    QList<float> levels;
    service.onAudioLevel = [&](float level) { levels.append(level); };
    QElapsedTimer recording;
    QVERIFY(service.startRecording());
    recording.start();
    // The desktop's sound settings show who records, by name and icon.
    QProcess pactl;
    pactl.start("pactl", {"list", "source-outputs"});
    QVERIFY(pactl.waitForFinished(5000));
    const QString streams = QString::fromUtf8(pactl.readAllStandardOutput());
    QVERIFY2(streams.contains("application.name = \"Quillpoint\"") &&
                 streams.contains("application.icon_name = \"app.quillpoint.Quillpoint\""),
             qPrintable(streams));
    QTest::qWait(3000);
    const auto path = service.stopRecording();
    // A loaded machine (or a sanitizer build) stops later than asked: compare with what ran.
    const double seconds = recording.elapsed() / 1000.0;
    QVERIFY(path.has_value());

    const auto probe = test::probeAudio(*path);
    AudioCaptureService::deleteRecording(*path);
    QCOMPARE(probe.codec, QStringLiteral("aac"));
    QCOMPARE(probe.sampleRate, 16000);
    QCOMPARE(probe.channels, 1);
    QVERIFY2(probe.formatName.contains("mp4") || probe.formatName.contains("mov"),
             qPrintable(probe.formatName));
    // The pipe standing in for the microphone may hand over up to a few hundred milliseconds that
    // the test wrote before the stream connected; a real microphone starts empty.
    QVERIFY2(probe.duration >= seconds - 0.2 && probe.duration <= seconds + 0.4,
             qPrintable(QStringLiteral("%1 s recorded in %2 s").arg(probe.duration).arg(seconds)));

    QVERIFY2(levels.size() >= 25, qPrintable(QString::number(levels.size())));
    QVERIFY(*std::max_element(levels.begin(), levels.end()) > 0.5f); // the speech, not silence
}

void TestAudioCaptureDesktop::outputMonitorIsNoMicrophone() {
    QCOMPARE(QProcess::execute("pactl", {"set-default-source", "quill_speaker.monitor"}), 0);
    test::LogCapture log;
    AudioCaptureService service{soundServerRecorders()};
    const bool started = service.startRecording();
    QCOMPARE(QProcess::execute("pactl", {"set-default-source", "quill_mic"}), 0);
    QVERIFY(!started);
    QVERIFY(!QFile::exists(service.recordingURL().value()));
    QCOMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines.first().contains("only monitors an output"), qPrintable(log.lines.first()));
    QVERIFY(service.startRecording()); // the microphone is back
    service.cancelRecording();
}

QTEST_GUILESS_MAIN(TestAudioCaptureDesktop)
#include "tst_audiocapture_desktop.moc"
