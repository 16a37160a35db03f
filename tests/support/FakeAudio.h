#pragma once

#include "platform/AudioFileWriter.h"
#include "platform/AudioInputList.h"
#include "platform/PcmSource.h"

#include <QFile>
#include <vector>

namespace quill::test {

// A microphone the test plays samples into; delivers on the test's thread.
struct FakeMicrophone {
    bool available = true;
    bool running = false;
    PcmSource::Handler handler;

    void push(const std::vector<float>& samples) {
        if (running) {
            handler.samples(samples);
        }
    }
    void end(const QString& reason) {
        if (running) {
            running = false;
            handler.ended(reason);
        }
    }
};

class FakePcmSource final : public PcmSource {
public:
    explicit FakePcmSource(FakeMicrophone& mic) : m_mic(mic) {}
    bool start(int, Handler handler) override {
        if (!m_mic.available) {
            return false;
        }
        m_mic.handler = std::move(handler);
        m_mic.running = true;
        return true;
    }
    void stop() override { m_mic.running = false; }
    QString errorString() const override { return QStringLiteral("no input device"); }

private:
    FakeMicrophone& m_mic;
};

// The sound server's inputs as the test sets them.
class FakeAudioInputList final : public AudioInputList {
public:
    void watch() override { ++watchCalls; }
    QList<AudioInput> inputs() const override { return list; }
    void set(QList<AudioInput> inputs) {
        list = std::move(inputs);
        emit changed();
    }
    QList<AudioInput> list;
    int watchCalls = 0;
};

// What the fake writer was asked to do, and how it should fail.
struct FakeDisk {
    int writesBeforeFull = -1; // -1: never full
    int writes = 0;
    bool finished = false;
};

// Writes raw floats to a real file, so tests can see the file appear and disappear.
class FakeAudioFileWriter final : public AudioFileWriter {
public:
    explicit FakeAudioFileWriter(FakeDisk& disk) : m_disk(disk) {}
    bool create(const QString& path, int) override {
        m_file.setFileName(path);
        return m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    }
    bool write(std::span<const float> samples) override {
        if (m_disk.writesBeforeFull >= 0 && m_disk.writes >= m_disk.writesBeforeFull) {
            return false;
        }
        ++m_disk.writes;
        m_file.write(reinterpret_cast<const char*>(samples.data()), qint64(samples.size_bytes()));
        return true;
    }
    bool finish() override {
        m_file.close();
        m_disk.finished = true;
        return true;
    }
    void discard() override {
        if (m_file.isOpen()) {
            m_file.close();
            m_file.remove();
        }
    }
    QString errorString() const override { return QStringLiteral("No space left on device"); }

private:
    FakeDisk& m_disk;
    QFile m_file;
};

} // namespace quill::test
