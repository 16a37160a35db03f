#include "AudioRecorder.h"

#include "platform/Log.h"

#include <QMetaObject>
#include <algorithm>
#include <cmath>
#include <limits>

namespace quill {
namespace {

// Ten minutes, far beyond any recording's maximum, so that the copy in memory has a bound of its
// own (19 MB); room for 30 s is made at the start, so the sound server's thread rarely allocates.
constexpr size_t kMaxUnsavedSamples = size_t(AudioRecorder::kSampleRate) * 600;
constexpr size_t kReservedSamples = size_t(AudioRecorder::kSampleRate) * 30;

} // namespace

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
                if (m_outcome == Outcome::failed)
                    emit failed();
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
    {
        std::lock_guard lock(m_meterMutex);
        m_unsaved.reserve(kReservedSamples);
    }
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
    std::lock_guard lock(m_meterMutex);
    m_unsaved = {};
}

std::vector<qint16> AudioRecorder::takeUnsavedSamples() {
    if (m_outcome != Outcome::failed)
        return {};
    std::lock_guard lock(m_meterMutex);
    return std::exchange(m_unsaved, {});
}

void AudioRecorder::receive(std::span<const float> samples) {
    {
        std::lock_guard lock(m_meterMutex);
        for (const float sample : samples) {
            m_sumOfSquares += double(sample) * double(sample);
            if (m_unsaved.size() < kMaxUnsavedSamples)
                m_unsaved.push_back(qint16(std::lround(std::clamp(sample, -1.0f, 1.0f) * 32767.0f)));
        }
        m_meteredSamples += qint64(samples.size());
    }
    if (m_writeFailed) {
        return;
    }
    if (!m_writer->write(samples)) {
        m_writeFailed = true;
        // Stop at once rather than at the user's next press, so the user knows to stop talking
        // and a full disk fills no further.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_outcome != Outcome::recording)
                    return;
                stop();
                emit failed();
            },
            Qt::QueuedConnection);
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
        std::lock_guard lock(m_meterMutex);
        m_unsaved = {};
    } else {
        m_failure = m_writer->errorString();
        logLine(lcCapture(), QStringLiteral("AudioRecorder"),
                QStringLiteral("recording failed, %1 removed: %2").arg(m_path, m_failure));
        m_writer->discard();
        m_outcome = Outcome::failed;
    }
}

} // namespace quill
