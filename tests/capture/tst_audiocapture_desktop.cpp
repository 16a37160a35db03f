#include "AudioProbe.h"
#include "DesktopTools.h"
#include "FakePlatform.h"
#include "SystemAudio.h"
#include "capture/AudioCaptureService.h"
#include "platform/audio/AacFileWriter.h"
#include "platform/audio/PulsePcmSource.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <utility>

using namespace quill;
using namespace quill::test;

namespace {

constexpr double defaultTone = 440.0;
constexpr double chosenTone = 1320.0;

// A sine at `hz` as 16 kHz mono s16le, a whole number of periods long so that it loops cleanly.
QByteArray tone(double hz) {
    const int samples = 16000;
    QByteArray pcm(qsizetype(samples) * 2, Qt::Uninitialized);
    auto* out = reinterpret_cast<qint16*>(pcm.data());
    for (int i = 0; i < samples; ++i)
        out[i] = qint16(12000.0 * std::sin(2.0 * M_PI * hz * i / 16000.0));
    return pcm;
}

// The recording decoded back to 16 kHz mono floats.
std::vector<float> decode(const QString& path) {
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", {"-v", "error", "-i", path, "-f", "f32le", "-ac", "1", "-ar", "16000", "-"});
    ffmpeg.waitForFinished(20000);
    const QByteArray bytes = ffmpeg.readAllStandardOutput();
    std::vector<float> samples(size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    return samples;
}

// Power at `hz` over `count` samples from `start` (Goertzel).
double powerAt(const std::vector<float>& samples, size_t start, size_t count, double hz) {
    const double coefficient = 2.0 * std::cos(2.0 * M_PI * hz / 16000.0);
    double previous = 0.0;
    double beforePrevious = 0.0;
    for (size_t i = start; i < std::min(samples.size(), start + count); ++i) {
        const double current = samples[i] + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    return previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
}

// Which of the two tones each fifth of a second of the recording holds: 'd' default, 'c' chosen,
// '.' neither clearly.
QString tonesOf(const std::vector<float>& samples) {
    QString tones;
    constexpr size_t window = 3200;
    for (size_t start = 0; start + window <= samples.size(); start += window) {
        const double d = powerAt(samples, start, window, defaultTone);
        const double c = powerAt(samples, start, window, chosenTone);
        tones += d > 10.0 * c ? u'd' : c > 10.0 * d ? u'c' : u'.';
    }
    return tones;
}

// A second microphone on the sound server: a pipe source of its own.
class SecondMicrophone {
public:
    SecondMicrophone() : fifo(qEnvironmentVariable("QUILL_TEST_DESKTOP_ROOT") + "/second-mic.fifo") {
        QProcess pactl;
        pactl.start("pactl", {"load-module", "module-pipe-source", "source_name=quill_headset",
                              "file=" + fifo, "format=s16le", "rate=16000", "channels=1",
                              "source_properties=device.description=Test-Headset"});
        pactl.waitForFinished(10000);
        module = QString::fromUtf8(pactl.readAllStandardOutput()).trimmed();
    }
    ~SecondMicrophone() { unplug(); }
    void unplug() {
        if (!module.isEmpty())
            QProcess::execute("pactl", {"unload-module", std::exchange(module, QString())});
    }

    const QString fifo;
    QString module;
};

} // namespace

// Against the test desktop's PulseAudio, whose default source is a pipe this test feeds.
class TestAudioCaptureDesktop : public QObject {
    Q_OBJECT
private slots:
    void recordsTheDefaultSource();
    void outputMonitorIsNoMicrophone();
    void chosenInputIsTheOneRecorded();
    void unpluggedInputFallsBackToTheDefaultWithoutLoss();
    void unpluggedDefaultInputIsSaidAndAMonitorNeverRecorded();
};

void TestAudioCaptureDesktop::recordsTheDefaultSource() {
    const QByteArray pcm =
        speechPcm(QStringLiteral("Testing the microphone, one two three, the quick brown fox."));
    QVERIFY(pcm.size() > qsizetype(16000) * 2);
    MicFeeder feeder(pcm);
    QTRY_VERIFY(feeder.isFeeding());

    AudioCaptureService service{soundServerRecorders()};
    QList<float> levels;
    connect(&service, &AudioCaptureService::audioLevel, this, [&](float level) { levels.append(level); });
    QElapsedTimer recording;
    QVERIFY(service.startRecording());
    recording.start();
    // The desktop's sound settings show who records, by name and icon, once the stream that
    // startRecording() leaves to a thread of its own has reached the sound server.
    const auto recordingStreams = [] {
        QProcess pactl;
        pactl.start("pactl", {"list", "source-outputs"});
        pactl.waitForFinished(5000);
        return QString::fromUtf8(pactl.readAllStandardOutput());
    };
    QString streams;
    QTRY_VERIFY_WITH_TIMEOUT((streams = recordingStreams()).contains("Quillpoint"), 10000);
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
    QSignalSpy failed(&service, &AudioCaptureService::recordingFailed);
    QVERIFY(service.startRecording());
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(QProcess::execute("pactl", {"set-default-source", "quill_mic"}), 0);
    QVERIFY(!service.isRecording());
    QVERIFY(!QFile::exists(service.recordingPath().value()));
    QCOMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines.first().contains("only monitors an output"), qPrintable(log.lines.first()));
    QVERIFY(service.startRecording()); // the microphone is back
    service.cancelRecording();
}

void TestAudioCaptureDesktop::chosenInputIsTheOneRecorded() {
    SecondMicrophone headset;
    QVERIFY(!headset.module.isEmpty());
    MicFeeder defaultMic(tone(defaultTone));
    MicFeeder chosenMic(tone(chosenTone), headset.fifo);
    QTRY_VERIFY(defaultMic.isFeeding() && chosenMic.isFeeding());

    for (const auto& [input, expected] : {std::pair{QString("quill_headset"), u'c'}, {QString(), u'd'}}) {
        AudioCaptureService service{[input = input] {
            return std::make_unique<AudioRecorder>(std::make_unique<PulsePcmSource>(input),
                                                   std::make_unique<AacFileWriter>());
        }};
        QStringList lost;
        connect(&service, &AudioCaptureService::inputLost, this,
                [&](const QString& description) { lost << description; });
        QVERIFY(service.startRecording());
        QTest::qWait(1500);
        const auto path = service.stopRecording();
        QVERIFY(path.has_value());
        const QString tones = tonesOf(decode(*path));
        AudioCaptureService::deleteRecording(*path);
        QVERIFY2(tones.size() >= 6 && tones.count(expected) >= tones.size() - 1,
                 qPrintable(input + ": " + tones));
        QCOMPARE(lost, QStringList());
    }
}

void TestAudioCaptureDesktop::unpluggedInputFallsBackToTheDefaultWithoutLoss() {
    SecondMicrophone headset;
    MicFeeder defaultMic(tone(defaultTone));
    auto chosenMic = std::make_unique<MicFeeder>(tone(chosenTone), headset.fifo);
    QTRY_VERIFY(defaultMic.isFeeding() && chosenMic->isFeeding());

    AudioCaptureService service{[] {
        return std::make_unique<AudioRecorder>(std::make_unique<PulsePcmSource>("quill_headset"),
                                               std::make_unique<AacFileWriter>());
    }};
    QStringList lost;
    connect(&service, &AudioCaptureService::inputLost, this,
            [&](const QString& description) { lost << description; });
    QElapsedTimer recording;
    QVERIFY(service.startRecording());
    recording.start();
    QTest::qWait(1500);
    headset.unplug();
    chosenMic.reset();
    QTRY_COMPARE(lost, QStringList{"Test-Headset"});
    QTest::qWait(1500);
    QVERIFY(service.isRecording());
    const auto path = service.stopRecording();
    const double seconds = recording.elapsed() / 1000.0;
    QVERIFY(path.has_value());
    const auto probe = probeAudio(*path);
    const QString tones = tonesOf(decode(*path));
    AudioCaptureService::deleteRecording(*path);
    // What came before the unplugging is kept, and the recording goes on from the default input.
    QVERIFY2(probe.duration >= seconds - 0.4,
             qPrintable(QStringLiteral("%1 s of %2 s").arg(probe.duration).arg(seconds)));
    QVERIFY2(tones.startsWith("cccccc") && tones.endsWith("dddddd"), qPrintable(tones));

    // With the input gone, the next recording starts from the default one and says so.
    QVERIFY(service.startRecording());
    QTRY_COMPARE(lost.size(), 2);
    QCOMPARE(lost.last(), QStringLiteral("quill_headset"));
    service.cancelRecording();
}

void TestAudioCaptureDesktop::unpluggedDefaultInputIsSaidAndAMonitorNeverRecorded() {
    const auto restoreDefault = qScopeGuard([] {
        QProcess::execute("pactl", {"set-default-source", "quill_mic"});
    });
    MicFeeder defaultMic(tone(defaultTone));
    for (const bool monitorLeft : {false, true}) {
        SecondMicrophone headset;
        auto headsetMic = std::make_unique<MicFeeder>(tone(chosenTone), headset.fifo);
        QTRY_VERIFY(defaultMic.isFeeding() && headsetMic->isFeeding());
        QCOMPARE(QProcess::execute("pactl", {"set-default-source", "quill_headset"}), 0);

        test::LogCapture log;
        AudioCaptureService service{soundServerRecorders()};
        QStringList lost;
        connect(&service, &AudioCaptureService::inputLost, this,
                [&](const QString& description) { lost << description; });
        QVERIFY(service.startRecording());
        QTest::qWait(1500);
        // The server moves the recording to its default input, which is what the speakers play
        // when no microphone is left.
        QCOMPARE(QProcess::execute(
                     "pactl", {"set-default-source", monitorLeft ? "quill_speaker.monitor" : "quill_mic"}),
                 0);
        headset.unplug();
        headsetMic.reset();
        if (monitorLeft)
            QTRY_VERIFY_WITH_TIMEOUT(
                log.lines.join('\n').contains("Test-Headset is gone and no other input is left"), 5000);
        else
            QTRY_COMPARE(lost, QStringList{"Test-Headset"});
        QTest::qWait(1500);
        const auto path = service.stopRecording();
        QVERIFY(path.has_value());
        const QString tones = tonesOf(decode(*path));
        AudioCaptureService::deleteRecording(*path);
        if (monitorLeft) {
            QCOMPARE(lost, QStringList());
            // The headset's part and nothing after it.
            QVERIFY2(tones.count(u'c') >= 6 && tones.count(u'.') <= 2, qPrintable(tones));
        } else {
            QVERIFY2(tones.startsWith("cccccc") && tones.endsWith("dddddd"), qPrintable(tones));
        }
    }
}

QTEST_GUILESS_MAIN(TestAudioCaptureDesktop)
#include "tst_audiocapture_desktop.moc"
