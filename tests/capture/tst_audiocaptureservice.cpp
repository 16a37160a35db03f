#include "FakeAudio.h"
#include "FakePlatform.h"
#include "capture/AudioCaptureService.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>
#include <limits>

using namespace quill;
using namespace std::chrono_literals;

class TestAudioCaptureService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void levelForPower_data();
    void levelForPower();
    void levelFromSamples_data();
    void levelFromSamples();
    void fileNaming();
    void maxDurationReportedOnceWhileLevelsContinue();
    void stopBeforeMaxDuration();
    void doubleStop();
    void cancelDeletesFileAndIdleCancelIsHarmless();
    void startFailure();
    void writeFailureRemovesFileAndKeepsTheSamples();
    void recordingWithoutSamplesIsNoData();
    void sourceEndingKeepsWhatWasCaptured();
    void sourceEndingBeforeAnySoundFailsTheRecording();
    void destructionRemovesFiles();

private:
    std::unique_ptr<AudioCaptureService> makeService();

    test::FakeMicrophone mic;
    test::FakeDisk disk;
    std::unique_ptr<AudioCaptureService> service;
    QList<float> levels;
    int maxDurationCalls = 0;
};

std::unique_ptr<AudioCaptureService> TestAudioCaptureService::makeService() {
    auto created = std::make_unique<AudioCaptureService>([this] {
        return std::make_unique<AudioRecorder>(std::make_unique<test::FakePcmSource>(mic),
                                               std::make_unique<test::FakeAudioFileWriter>(disk));
    });
    created->meteringInterval = 10ms;
    connect(created.get(), &AudioCaptureService::audioLevel, this,
            [this](float level) { levels.append(level); });
    connect(created.get(), &AudioCaptureService::maxDurationReached, this, [this] { ++maxDurationCalls; });
    return created;
}

void TestAudioCaptureService::init() {
    mic = {};
    disk = {};
    levels.clear();
    maxDurationCalls = 0;
    service = makeService();
}

void TestAudioCaptureService::cleanup() {
    const auto path = service->recordingPath();
    service.reset();
    if (path) {
        QVERIFY2(!QFile::exists(*path), qPrintable(*path));
    }
}

void TestAudioCaptureService::levelForPower_data() {
    QTest::addColumn<float>("power");
    QTest::addColumn<float>("level");
    QTest::newRow("-160 dB") << -160.0f << 0.0f;
    QTest::newRow("-50 dB") << -50.0f << 0.0f;
    QTest::newRow("-40 dB") << -40.0f << 0.2f;
    QTest::newRow("-25 dB") << -25.0f << 0.5f;
    QTest::newRow("0 dB") << 0.0f << 1.0f;
    QTest::newRow("+3 dB") << 3.0f << 1.0f;
    QTest::newRow("digital silence") << -std::numeric_limits<float>::infinity() << 0.0f;
    QTest::newRow("NaN") << std::numeric_limits<float>::quiet_NaN() << 0.0f;
}

void TestAudioCaptureService::levelForPower() {
    QFETCH(float, power);
    QFETCH(float, level);
    QCOMPARE(AudioCaptureService::levelForPower(power), level);
}

void TestAudioCaptureService::levelFromSamples_data() {
    QTest::addColumn<std::vector<float>>("block");
    QTest::addColumn<float>("level");
    std::vector<float> square(1600);
    for (size_t i = 0; i < square.size(); ++i) {
        square[i] = i % 2 ? 1.0f : -1.0f;
    }
    QTest::newRow("full-scale square, 0 dB") << square << 1.0f;
    QTest::newRow("0.1 constant, -20 dB") << std::vector<float>(1600, 0.1f) << 0.6f;
    QTest::newRow("0.01 constant, -40 dB") << std::vector<float>(1600, -0.01f) << 0.2f;
    QTest::newRow("digital silence") << std::vector<float>(1600, 0.0f) << 0.0f;
    QTest::newRow("no samples") << std::vector<float>() << 0.0f;
}

void TestAudioCaptureService::levelFromSamples() {
    QFETCH(std::vector<float>, block);
    QFETCH(float, level);
    QVERIFY(service->startRecording());
    mic.push(block);
    QTRY_VERIFY(!levels.isEmpty());
    QVERIFY2(std::abs(levels.first() - level) < 1e-4f, qPrintable(QString::number(levels.first())));
    service->cancelRecording();
}

void TestAudioCaptureService::fileNaming() {
    static const QRegularExpression name(QStringLiteral(
        "^quill_recording_[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.m4a$"));
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QVERIFY(service->startRecording());
    const QString first = service->recordingPath().value();
    QCOMPARE(QFileInfo(first).absolutePath(), QDir(runtime.path()).absolutePath());
    QVERIFY2(name.match(QFileInfo(first).fileName()).hasMatch(), qPrintable(first));
    QVERIFY(QFile::exists(first));
    service->cancelRecording();

    QVERIFY(service->startRecording());
    const QString second = service->recordingPath().value();
    QVERIFY(name.match(QFileInfo(second).fileName()).hasMatch());
    QVERIFY(first != second);
    service->cancelRecording();

    // Without a usable runtime directory the temporary directory takes the recordings.
    for (const QByteArray& unusable :
         {QByteArray(), QByteArray("relative/run"), runtime.filePath("missing").toUtf8()}) {
        qputenv("XDG_RUNTIME_DIR", unusable);
        QVERIFY(service->startRecording());
        QCOMPARE(QFileInfo(service->recordingPath().value()).absolutePath(),
                 QDir(QDir::tempPath()).absolutePath());
        service->cancelRecording();
    }
    qunsetenv("XDG_RUNTIME_DIR");
}

void TestAudioCaptureService::maxDurationReportedOnceWhileLevelsContinue() {
    service->maxDuration = 0.05;
    QVERIFY(service->startRecording());
    QTRY_COMPARE(maxDurationCalls, 1);
    const auto levelsAtMax = levels.size();
    QTest::qWait(150);
    QCOMPARE(maxDurationCalls, 1);
    QVERIFY(service->isRecording()); // reporting is all it does
    QVERIFY(levels.size() > levelsAtMax + 3);
    service->cancelRecording();
}

void TestAudioCaptureService::stopBeforeMaxDuration() {
    service->maxDuration = 0.1;
    QVERIFY(service->startRecording());
    mic.push(std::vector<float>(1600, 0.5f));
    QVERIFY(service->stopRecording().has_value());
    const auto levelsAtStop = levels.size();
    QTest::qWait(250);
    QCOMPARE(maxDurationCalls, 0);
    QCOMPARE(levels.size(), levelsAtStop);
    service->deleteRecording(service->recordingPath().value());
}

void TestAudioCaptureService::doubleStop() {
    QVERIFY(service->startRecording());
    mic.push(std::vector<float>(1600, 0.5f));
    const auto first = service->stopRecording();
    QVERIFY(first.has_value());
    QVERIFY(disk.finished);
    QVERIFY(QFile::exists(*first)); // the caller reads it before deleting
    QCOMPARE(service->stopRecording(), first);
    QVERIFY(!service->isRecording());
    AudioCaptureService::deleteRecording(*first);
    QVERIFY(!QFile::exists(*first));
    AudioCaptureService::deleteRecording(*first); // already gone: ignored
}

void TestAudioCaptureService::cancelDeletesFileAndIdleCancelIsHarmless() {
    service->cancelRecording();
    QVERIFY(!service->isRecording());
    QCOMPARE(service->recordingPath(), std::nullopt);
    QCOMPARE(service->stopRecording(), std::nullopt);

    service->maxDuration = 0.05;
    QVERIFY(service->startRecording());
    mic.push(std::vector<float>(1600, 0.5f));
    service->cancelRecording();
    QVERIFY(!service->isRecording());
    const QString path = service->recordingPath().value();
    QVERIFY(!QFile::exists(path));
    QTest::qWait(150);
    QCOMPARE(maxDurationCalls, 0);
    QVERIFY(!disk.finished);
}

void TestAudioCaptureService::startFailure() {
    test::LogCapture log;
    mic.available = false;
    service->maxDuration = 0.05;
    QVERIFY(!service->startRecording());
    QVERIFY(!service->isRecording());
    QVERIFY(service->recordingPath().has_value());
    QVERIFY(!QFile::exists(*service->recordingPath()));
    QCOMPARE(service->audioRecorder(), nullptr);
    QTest::qWait(150);
    QCOMPARE(maxDurationCalls, 0);
    QVERIFY(levels.isEmpty());
    QCOMPARE(log.lines, QStringList{"AudioRecorder: cannot record: no input device"});
}

void TestAudioCaptureService::writeFailureRemovesFileAndKeepsTheSamples() {
    test::LogCapture log;
    QSignalSpy failed(service.get(), &AudioCaptureService::recordingFailed);
    disk.writesBeforeFull = 2;
    QVERIFY(service->startRecording());
    const QString path = service->recordingPath().value();
    const std::vector<float> block{0.5f, -1.0f, 2.0f, 0.0f};
    for (int i = 0; i < 4; ++i) {
        mic.push(block);
    }
    QTRY_VERIFY(!QFile::exists(path)); // removed at once, not at the next press
    QCOMPARE(failed.size(), 1);
    QVERIFY(!mic.running);
    QCOMPARE(service->stopRecording(), std::nullopt);
    QCOMPARE(service->failure(), std::optional<QString>("No space left on device"));
    QCOMPARE(log.lines.size(), 1);
    QVERIFY2(log.lines.first().startsWith("AudioRecorder: recording failed, " + path + " removed"),
             qPrintable(log.lines.first()));

    // Every block, also those the file no longer took, as 16-bit PCM at 16 kHz.
    const auto kept = service->keepUnsavedRecording();
    QVERIFY(kept.has_value());
    QCOMPARE(QFileInfo(*kept).absolutePath(),
             QFileInfo(AudioCaptureService::recordingDirectory()).absoluteFilePath());
    QCOMPARE(QFileInfo(*kept).permissions() & (QFileDevice::ReadOther | QFileDevice::ReadGroup), 0);
    QFile file(*kept);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray wave = file.readAll();
    file.remove();
    QCOMPARE(wave.size(), 44 + 4 * 4 * 2);
    QCOMPARE(wave.left(4), QByteArray("RIFF"));
    QCOMPARE(qFromLittleEndian<quint32>(wave.constData() + 24), 16000u);
    QCOMPARE(qFromLittleEndian<quint32>(wave.constData() + 40), quint32(4 * 4 * 2));
    const auto sample = [&](int i) {
        return qFromLittleEndian<qint16>(wave.constData() + 44 + qsizetype(2) * i);
    };
    QCOMPARE(sample(0), qint16(16384));
    QCOMPARE(sample(1), qint16(-32767));
    QCOMPARE(sample(2), qint16(32767)); // clipped
    QCOMPARE(sample(15), qint16(0));
    QCOMPARE(service->keepUnsavedRecording(), std::nullopt); // once only

    // A recording that worked has nothing to keep and no failure.
    disk = {};
    QVERIFY(service->startRecording());
    mic.push(block);
    const auto saved = service->stopRecording();
    QVERIFY(saved.has_value());
    QCOMPARE(service->failure(), std::nullopt);
    QCOMPARE(service->keepUnsavedRecording(), std::nullopt);
    AudioCaptureService::deleteRecording(*saved);
}

void TestAudioCaptureService::recordingWithoutSamplesIsNoData() {
    QVERIFY(service->startRecording());
    const QString path = service->recordingPath().value();
    QCOMPARE(service->stopRecording(), std::nullopt);
    QVERIFY(!QFile::exists(path));
    QCOMPARE(service->stopRecording(), std::nullopt);
}

void TestAudioCaptureService::sourceEndingKeepsWhatWasCaptured() {
    test::LogCapture log;
    QVERIFY(service->startRecording());
    mic.push(std::vector<float>(8000, 0.5f));
    mic.end("Connection terminated");
    QTRY_VERIFY(disk.finished);
    QVERIFY(service->isRecording()); // until the user stops, as with any recording
    QCOMPARE(
        log.lines,
        QStringList{
            "AudioRecorder: the sound server ended the recording (Connection terminated); keeping 0.5 s"});
    const auto path = service->stopRecording();
    QCOMPARE(path, service->recordingPath());
    QCOMPARE(QFileInfo(*path).size(), qint64(8000 * sizeof(float)));
    AudioCaptureService::deleteRecording(*path);
}

void TestAudioCaptureService::sourceEndingBeforeAnySoundFailsTheRecording() {
    // A source that reaches its sound server in the background learns only then that it cannot.
    test::LogCapture log;
    QSignalSpy failed(service.get(), &AudioCaptureService::recordingFailed);
    QVERIFY(service->startRecording());
    const QString path = service->recordingPath().value();
    mic.end("Connection refused");
    QTRY_COMPARE(failed.size(), 1);
    QVERIFY(!service->isRecording());
    QVERIFY(!QFile::exists(path));
    QVERIFY(!mic.running);
    QCOMPARE(log.lines, QStringList{"AudioRecorder: cannot record: Connection refused"});
    QCOMPARE(service->stopRecording(), std::nullopt);
}

void TestAudioCaptureService::destructionRemovesFiles() {
    QVERIFY(service->startRecording());
    mic.push(std::vector<float>(1600, 0.5f));
    const QString running = service->recordingPath().value();
    service = makeService();
    QVERIFY(!QFile::exists(running));

    QVERIFY(service->startRecording());
    mic.push(std::vector<float>(1600, 0.5f));
    const QString stopped = service->stopRecording().value();
    QVERIFY(QFile::exists(stopped));
    service = makeService();
    QVERIFY(!QFile::exists(stopped));
}

QTEST_GUILESS_MAIN(TestAudioCaptureService)
#include "tst_audiocaptureservice.moc"
