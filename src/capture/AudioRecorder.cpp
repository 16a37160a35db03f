#include "AudioRecorder.h"

#include "platform/Log.h"

#include <QMetaObject>
#include <cmath>
#include <limits>

namespace quill {

AudioRecorder::AudioRecorder(std::unique_ptr<PcmSource> source, std::unique_ptr<AudioFileWriter> writer,
                             QObject* parent)
    : QObject(parent)
    , m_source(std::move(source))
    , m_writer(std::move(writer)) {}

AudioRecorder::~AudioRecorder() {
    discard();
}

bool AudioRecorder::record(const QString& path) {
    m_path = path;
    if (!m_writer->create(path, kSampleRate)) {
        logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                QStringLiteral("cannot record: ") + m_writer->errorString());
        return false;
    }
    PcmSource::Handler handler;
    handler.samples = [this](std::span<const float> samples) { receive(samples); };
    handler.ended = [this](const QString& reason) {
        QMetaObject::invokeMethod(
            this,
            [this, reason] {
                if (m_outcome != Outcome::recording) {
                    return;
                }
                if (m_samplesWritten == 0 && !m_writeFailed) {
                    logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                            QStringLiteral("cannot record: ") + reason);
                    m_source->stop();
                    m_writer->discard();
                    m_outcome = Outcome::empty;
                    emit failed();
                    return;
                }
                logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                        QStringLiteral("the sound server ended the recording (%1); keeping %2 s")
                            .arg(reason)
                            .arg(double(m_samplesWritten.load()) / kSampleRate, 0, 'f', 1));
                finish();
            },
            Qt::QueuedConnection);
    };
    handler.fellBack = [this](const QString& description) {
        QMetaObject::invokeMethod(
            this,
            [this, description] {
                logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                        QStringLiteral("the input %1 is gone; recording from the default input")
                            .arg(description));
                emit inputLost(description);
            },
            Qt::QueuedConnection);
    };
    m_outcome = Outcome::recording;
    if (!m_source->start(kSampleRate, std::move(handler))) {
        logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                QStringLiteral("cannot record: ") + m_source->errorString());
        m_outcome = Outcome::discarded;
        m_writer->discard();
        return false;
    }
    return true;
}

float AudioRecorder::averagePower() {
    std::lock_guard lock(m_meterMutex);
    if (m_meteredSamples == 0) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    const double meanSquare = m_sumOfSquares / double(m_meteredSamples);
    m_sumOfSquares = 0.0;
    m_meteredSamples = 0;
    return float(10.0 * std::log10(meanSquare));
}

AudioRecorder::Outcome AudioRecorder::stop() {
    if (m_outcome == Outcome::recording) {
        finish();
    }
    return m_outcome;
}

void AudioRecorder::discard() {
    if (m_outcome != Outcome::recording) {
        return;
    }
    m_source->stop();
    m_writer->discard();
    m_outcome = Outcome::discarded;
}

void AudioRecorder::receive(std::span<const float> samples) {
    if (m_writeFailed) {
        return;
    }
    {
        std::lock_guard lock(m_meterMutex);
        for (const float sample : samples) {
            m_sumOfSquares += double(sample) * double(sample);
        }
        m_meteredSamples += qint64(samples.size());
    }
    if (!m_writer->write(samples)) {
        m_writeFailed = true;
        // Stop at once rather than at the user's next press, so a full disk fills no further.
        QMetaObject::invokeMethod(
            this, [this] { stop(); }, Qt::QueuedConnection);
        return;
    }
    m_samplesWritten += qint64(samples.size());
}

void AudioRecorder::finish() {
    m_source->stop();
    if (!m_writeFailed && m_samplesWritten == 0) {
        logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                QStringLiteral("no sound arrived from the microphone"));
        m_writer->discard();
        m_outcome = Outcome::empty;
    } else if (!m_writeFailed && m_writer->finish()) {
        m_outcome = Outcome::saved;
    } else {
        logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                QStringLiteral("recording failed, %1 removed: %2").arg(m_path, m_writer->errorString()));
        m_writer->discard();
        m_outcome = Outcome::failed;
    }
}

} // namespace quill
