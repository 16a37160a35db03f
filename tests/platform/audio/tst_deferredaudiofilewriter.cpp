#include "AudioProbe.h"
#include "platform/audio/AudioEncoderModule.h"
#include "platform/audio/DeferredAudioFileWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <future>
#include <vector>

using namespace quill;

namespace {

// What the writer behind the deferred one was asked to do.
struct Calls {
    QString createdPath;
    int sampleRate = 0;
    std::vector<float> written;
    bool finished = false;
    bool discarded = false;
    bool failCreate = false;
    qsizetype failAfter = -1; // samples accepted before write() fails; -1 never
};

class RecordingWriter final : public AudioFileWriter {
public:
    explicit RecordingWriter(Calls& calls) : m_calls(calls) {}
    bool create(const QString& path, int sampleRate) override {
        if (m_calls.failCreate)
            return false;
        m_calls.createdPath = path;
        m_calls.sampleRate = sampleRate;
        return true;
    }
    bool write(std::span<const float> samples) override {
        if (m_calls.failAfter >= 0 &&
            qsizetype(m_calls.written.size()) + qsizetype(samples.size()) > m_calls.failAfter)
            return false;
        m_calls.written.insert(m_calls.written.end(), samples.begin(), samples.end());
        return true;
    }
    bool finish() override { return m_calls.finished = true; }
    void discard() override { m_calls.discarded = true; }
    QString errorString() const override { return m_calls.failCreate ? "cannot create" : "disk full"; }

private:
    Calls& m_calls;
};

std::vector<float> ramp(int from, int count) {
    std::vector<float> samples;
    samples.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        samples.push_back(float(from + i) / 100000.0f);
    return samples;
}

} // namespace

class TestDeferredAudioFileWriter : public QObject {
    Q_OBJECT
private slots:
    void samplesArrivingWhileTheEncoderLoadsAreWrittenFirstAndInOrder();
    void failuresToLoadOrCreateReachTheRecorderAsAFailedWrite();
    void discardWhileLoadingLeavesNothing();
    void moduleMissingOrBrokenIsAnErrorNotACrash();
    void moduleRecordsARealFileInTheBackground();
};

void TestDeferredAudioFileWriter::samplesArrivingWhileTheEncoderLoadsAreWrittenFirstAndInOrder() {
    Calls calls;
    std::promise<void> loaded;
    std::shared_future<void> released = loaded.get_future().share();
    DeferredAudioFileWriter writer(
        [&, released](QString&) -> std::unique_ptr<AudioFileWriter> {
            released.wait();
            return std::make_unique<RecordingWriter>(calls);
        },
        DeferredAudioFileWriter::Mode::background);
    QVERIFY(writer.create("/run/rec.m4a", 16000));
    for (int block = 0; block < 3; ++block)
        QVERIFY(writer.write(ramp(block * 500, 500)));
    QVERIFY(calls.written.empty());
    loaded.set_value();
    QTRY_COMPARE(calls.written.size(), size_t(1500));
    QVERIFY(writer.write(ramp(1500, 500)));
    QVERIFY(writer.finish());
    QVERIFY(calls.finished);
    QCOMPARE(calls.createdPath, QString("/run/rec.m4a"));
    QCOMPARE(calls.sampleRate, 16000);
    QCOMPARE(calls.written, ramp(0, 2000));
}

void TestDeferredAudioFileWriter::failuresToLoadOrCreateReachTheRecorderAsAFailedWrite() {
    const auto missing = [](QString& error) -> std::unique_ptr<AudioFileWriter> {
        error = "no encoder here";
        return nullptr;
    };
    {
        DeferredAudioFileWriter now(missing, DeferredAudioFileWriter::Mode::now);
        QVERIFY(!now.create("/run/a.m4a", 16000));
        QCOMPARE(now.errorString(), QString("no encoder here"));
    }
    {
        DeferredAudioFileWriter later(missing, DeferredAudioFileWriter::Mode::background);
        QVERIFY(later.create("/run/a.m4a", 16000));
        QTRY_VERIFY(!later.write(ramp(0, 10)));
        QCOMPARE(later.errorString(), QString("no encoder here"));
        QVERIFY(!later.finish());
    }
    {
        Calls calls;
        calls.failCreate = true;
        DeferredAudioFileWriter later([&](QString&) { return std::make_unique<RecordingWriter>(calls); },
                                      DeferredAudioFileWriter::Mode::background);
        QVERIFY(later.create("/run/a.m4a", 16000));
        QVERIFY(!later.finish());
        QCOMPARE(later.errorString(), QString("cannot create"));
    }
    {
        // The kept samples do not fit: the file is given up, not finished.
        Calls calls;
        calls.failAfter = 100;
        std::promise<void> loaded;
        std::shared_future<void> released = loaded.get_future().share();
        DeferredAudioFileWriter later(
            [&, released](QString&) -> std::unique_ptr<AudioFileWriter> {
                released.wait();
                return std::make_unique<RecordingWriter>(calls);
            },
            DeferredAudioFileWriter::Mode::background);
        QVERIFY(later.create("/run/a.m4a", 16000));
        QVERIFY(later.write(ramp(0, 500)));
        loaded.set_value();
        QTRY_VERIFY(!later.write(ramp(500, 10)));
        QCOMPARE(later.errorString(), QString("disk full"));
        QVERIFY(calls.discarded);
        QVERIFY(!later.finish());
        QVERIFY(!calls.finished);
    }
}

void TestDeferredAudioFileWriter::discardWhileLoadingLeavesNothing() {
    Calls calls;
    std::promise<void> loaded;
    std::shared_future<void> released = loaded.get_future().share();
    DeferredAudioFileWriter writer(
        [&, released](QString&) -> std::unique_ptr<AudioFileWriter> {
            released.wait();
            return std::make_unique<RecordingWriter>(calls);
        },
        DeferredAudioFileWriter::Mode::background);
    QVERIFY(writer.create("/run/a.m4a", 16000));
    QVERIFY(writer.write(ramp(0, 100)));
    auto discarding = std::async(std::launch::async, [&] { writer.discard(); });
    QTest::qWait(50); // the discard is under way before the loader returns
    loaded.set_value();
    discarding.get();
    // The file the loader created after the discard was asked for is removed again.
    QVERIFY(calls.discarded);
    QVERIFY(calls.written.empty());
    QVERIFY(!calls.finished);
}

void TestDeferredAudioFileWriter::moduleMissingOrBrokenIsAnErrorNotACrash() {
    QTemporaryDir dir;
    QString error;
    AudioEncoderModule missing({dir.filePath("quillpoint-aac.so"), dir.filePath("lib/quillpoint-aac.so")});
    QVERIFY(missing.path().isEmpty());
    QVERIFY(!missing.createWriter(error));
    QVERIFY2(error.contains("missing") && error.contains(dir.filePath("lib/quillpoint-aac.so")),
             qPrintable(error));

    QFile fake(dir.filePath("quillpoint-aac.so"));
    QVERIFY(fake.open(QIODevice::WriteOnly));
    fake.write("not a library");
    fake.close();
    AudioEncoderModule broken({dir.filePath("quillpoint-aac.so")});
    error.clear();
    QVERIFY(!broken.createWriter(error));
    QVERIFY2(error.contains("is not a shared library"), qPrintable(error));
    QVERIFY(!broken.isLoaded());

    // A module cut short, as an interrupted upgrade leaves it, is refused before the loader maps
    // it (mapping it faulted with SIGBUS), and stays refused.
    QFile real(QUILL_AAC_MODULE);
    QVERIFY(real.open(QIODevice::ReadOnly));
    const QByteArray image = real.readAll();
    for (const qsizetype length : {image.size() / 2, image.size() - 1, qsizetype(100)}) {
        const QString cutPath = dir.filePath(QStringLiteral("cut-%1/quillpoint-aac.so").arg(length));
        QVERIFY(QDir().mkpath(QFileInfo(cutPath).path()));
        QFile cut(cutPath);
        QVERIFY(cut.open(QIODevice::WriteOnly));
        cut.write(image.left(length));
        cut.close();
        AudioEncoderModule truncated({cutPath});
        error.clear();
        QVERIFY(!truncated.createWriter(error));
        QVERIFY2(error.contains("is damaged or cut short"), qPrintable(error));
        QVERIFY(truncated.answersAtOnce());
        error.clear();
        QVERIFY(!truncated.createWriter(error));
        QVERIFY2(error.contains("is damaged or cut short"), qPrintable(error));
    }
}

void TestDeferredAudioFileWriter::moduleRecordsARealFileInTheBackground() {
    QTemporaryDir dir;
    auto module = std::make_shared<AudioEncoderModule>(
        QStringList{dir.filePath("elsewhere.so"), QStringLiteral(QUILL_AAC_MODULE)});
    QCOMPARE(module->path(), QStringLiteral(QUILL_AAC_MODULE));
    QVERIFY(!module->isLoaded());
    const auto load = [module](QString& error) { return module->createWriter(error); };
    const QString path = dir.filePath("first.m4a");
    DeferredAudioFileWriter first(load, DeferredAudioFileWriter::Mode::background);
    QVERIFY(first.create(path, 16000));
    // Two seconds arrive at once, most of them before the encoder is there.
    const std::vector<float> samples = ramp(0, 32000);
    for (size_t offset = 0; offset < samples.size(); offset += 800)
        QVERIFY(first.write(std::span(samples).subspan(offset, 800)));
    QVERIFY2(first.finish(), qPrintable(first.errorString()));
    QVERIFY(module->isLoaded());
    const auto probe = test::probeAudio(path);
    QCOMPARE(probe.codec, QStringLiteral("aac"));
    QVERIFY2(std::abs(probe.duration - 2.0) < 0.07, qPrintable(QString::number(probe.duration)));

    DeferredAudioFileWriter second(load, DeferredAudioFileWriter::Mode::now);
    QVERIFY(second.create(dir.filePath("second.m4a"), 16000));
    second.discard();
    QVERIFY(!QFile::exists(dir.filePath("second.m4a")));
}

QTEST_GUILESS_MAIN(TestDeferredAudioFileWriter)
#include "tst_deferredaudiofilewriter.moc"
