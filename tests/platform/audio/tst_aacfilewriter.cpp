#include "AudioProbe.h"
#include "platform/audio/AacFileWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cmath>
#include <csignal>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

using namespace quill;

namespace {

std::vector<float> tone(int count, float amplitude) {
    std::vector<float> samples(size_t(count), 0.0f);
    for (int i = 0; i < count; ++i) {
        samples[size_t(i)] = amplitude * float(std::sin(2.0 * M_PI * 440.0 * i / 16000.0));
    }
    return samples;
}

// Feeds `samples` in blocks of an odd size, as a sound server would.
bool writeInBlocks(AacFileWriter& writer, const std::vector<float>& samples) {
    for (size_t offset = 0; offset < samples.size(); offset += 777) {
        if (!writer.write(
                std::span(samples).subspan(offset, std::min<size_t>(777, samples.size() - offset)))) {
            return false;
        }
    }
    return true;
}

} // namespace

class TestAacFileWriter : public QObject {
    Q_OBJECT
private slots:
    void init() { QVERIFY(dir.isValid()); }
    void fileIsPrivateAndNeverReplacesAnother();
    void writesAacMono16kMpeg4_data();
    void writesAacMono16kMpeg4();
    void unfinishedFilesAreRemoved();
    void fullDiskFailsAndRemovesFile();

private:
    QTemporaryDir dir;
};

void TestAacFileWriter::fileIsPrivateAndNeverReplacesAnother() {
    const QString path = dir.filePath("a.m4a");
    AacFileWriter writer;
    QVERIFY2(writer.create(path, 16000), qPrintable(writer.errorString()));
    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(path).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0600));

    AacFileWriter second;
    const auto sizeBefore = QFileInfo(path).size();
    QVERIFY(!second.create(path, 16000));
    QVERIFY(second.errorString().contains("File exists"));
    QCOMPARE(QFileInfo(path).size(), sizeBefore);
    QVERIFY(QFile::exists(path)); // the failed writer leaves another's file alone

    // A planted link must not redirect the recording anywhere.
    const QString target = dir.filePath("target");
    const QString link = dir.filePath("link.m4a");
    QVERIFY(QFile::link(target, link));
    AacFileWriter third;
    QVERIFY(!third.create(link, 16000));
    QVERIFY(!QFile::exists(target));
    writer.discard();
}

void TestAacFileWriter::writesAacMono16kMpeg4_data() {
    QTest::addColumn<std::vector<float>>("samples");
    QTest::addColumn<double>("seconds");
    QTest::newRow("1.5 s tone") << tone(24000, 0.5f) << 1.5;
    QTest::newRow("one sample short of a frame") << tone(1023, 0.5f) << 1023 / 16000.0;
    QTest::newRow("1 s digital silence") << std::vector<float>(16000, 0.0f) << 1.0;
}

void TestAacFileWriter::writesAacMono16kMpeg4() {
    QFETCH(std::vector<float>, samples);
    QFETCH(double, seconds);
    const QString path = dir.filePath("tone.m4a");
    AacFileWriter writer;
    QVERIFY(writer.create(path, 16000));
    QVERIFY(writeInBlocks(writer, samples));
    QVERIFY2(writer.finish(), qPrintable(writer.errorString()));

    const auto probe = test::probeAudio(path);
    QCOMPARE(probe.streamCount, 1);
    QCOMPARE(probe.codec, QStringLiteral("aac"));
    QCOMPARE(probe.sampleRate, 16000);
    QCOMPARE(probe.channels, 1);
    QVERIFY2(probe.formatName.contains("mp4"), qPrintable(probe.formatName));
    QVERIFY2(std::abs(probe.duration - seconds) < 0.07, qPrintable(QString::number(probe.duration)));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QCOMPARE(bytes.mid(4, 4), QByteArray("ftyp"));
    QVERIFY(bytes.indexOf("moov") < bytes.indexOf("mdat"));        // readable without seeking to the end
    QVERIFY(bytes.size() < 8000 + int(seconds * 32000 / 8 * 1.5)); // about 32 kbit/s
    QVERIFY(QFile::remove(path));
}

void TestAacFileWriter::unfinishedFilesAreRemoved() {
    const QString path = dir.filePath("b.m4a");
    {
        AacFileWriter writer;
        QVERIFY(writer.create(path, 16000));
        QVERIFY(writer.write(tone(4000, 0.5f)));
        writer.discard();
        QVERIFY(!QFile::exists(path));
    }
    {
        AacFileWriter writer;
        QVERIFY(writer.create(path, 16000));
        QVERIFY(writer.write(tone(4000, 0.5f)));
    }
    QVERIFY(!QFile::exists(path));
}

void TestAacFileWriter::fullDiskFailsAndRemovesFile() {
    // A file size limit makes write() fail like a full disk, without needing one.
    const QString path = dir.filePath("full.m4a");
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit original{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &original), 0);
    rlimit limited = original;
    limited.rlim_cur = rlim_t(16) * 1024;
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limited), 0);

    std::mt19937 random(7);
    std::uniform_real_distribution<float> noise(-0.9f, 0.9f);
    std::vector<float> samples(size_t(16000) * 20);
    for (float& sample : samples) {
        sample = noise(random);
    }
    AacFileWriter writer;
    const bool created = writer.create(path, 16000);
    const bool written = created && writeInBlocks(writer, samples) && writer.finish();
    ::setrlimit(RLIMIT_FSIZE, &original);

    QVERIFY(created);
    QVERIFY(!written);
    QVERIFY2(writer.errorString().contains("too large"), qPrintable(writer.errorString()));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!writer.write(samples)); // stays failed
}

QTEST_GUILESS_MAIN(TestAacFileWriter)
#include "tst_aacfilewriter.moc"
