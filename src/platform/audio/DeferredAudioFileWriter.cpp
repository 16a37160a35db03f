#include "DeferredAudioFileWriter.h"

namespace quill {

DeferredAudioFileWriter::DeferredAudioFileWriter(Loader load, Mode mode)
    : m_load(std::move(load))
    , m_mode(mode) {}

DeferredAudioFileWriter::~DeferredAudioFileWriter() {
    waitForLoader();
}

bool DeferredAudioFileWriter::open(const QString& path, int sampleRate) {
    QString error;
    std::unique_ptr<AudioFileWriter> writer = m_load(error);
    if (writer && !writer->create(path, sampleRate)) {
        error = writer->errorString();
        writer.reset();
    }
    std::lock_guard lock(m_mutex);
    if (!writer) {
        m_error = error;
        m_failed = true;
        return false;
    }
    if (m_discarded) {
        writer->discard();
        return false;
    }
    // Under the lock, so that samples arriving now queue behind the kept ones.
    if (!m_pending.empty() && !writer->write(m_pending)) {
        m_error = writer->errorString();
        m_failed = true;
        writer->discard();
        return false;
    }
    m_pending = {};
    m_writer = std::move(writer);
    return true;
}

bool DeferredAudioFileWriter::create(const QString& path, int sampleRate) {
    if (m_mode == Mode::now)
        return open(path, sampleRate);
    m_loader = std::thread([this, path, sampleRate] { open(path, sampleRate); });
    return true;
}

bool DeferredAudioFileWriter::write(std::span<const float> samples) {
    std::lock_guard lock(m_mutex);
    if (m_failed)
        return false;
    if (m_writer) {
        if (m_writer->write(samples))
            return true;
        m_error = m_writer->errorString();
        m_failed = true;
        return false;
    }
    m_pending.insert(m_pending.end(), samples.begin(), samples.end());
    return true;
}

bool DeferredAudioFileWriter::finish() {
    waitForLoader();
    std::lock_guard lock(m_mutex);
    if (m_failed || !m_writer)
        return false;
    if (m_writer->finish())
        return true;
    m_error = m_writer->errorString();
    m_failed = true;
    return false;
}

void DeferredAudioFileWriter::discard() {
    {
        std::lock_guard lock(m_mutex);
        m_discarded = true;
    }
    waitForLoader();
    std::lock_guard lock(m_mutex);
    if (m_writer)
        m_writer->discard();
    m_writer.reset();
    m_pending = {};
}

QString DeferredAudioFileWriter::errorString() const {
    std::lock_guard lock(m_mutex);
    return m_error;
}

void DeferredAudioFileWriter::waitForLoader() {
    if (m_loader.joinable())
        m_loader.join();
}

} // namespace quill
