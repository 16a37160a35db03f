#include "AudioCaptureService.h"

#include "WaveFile.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>
#include <algorithm>

namespace quill {

AudioCaptureService::AudioCaptureService(RecorderFactory createRecorder, QObject* parent)
    : QObject(parent)
    , m_createRecorder(std::move(createRecorder)) {
    // The recording holds the user's voice: a quit in the middle must not leave it behind.
    if (auto* app = QCoreApplication::instance()) {
        connect(app, &QCoreApplication::aboutToQuit, this, &AudioCaptureService::cleanUp);
    }
}

QString AudioCaptureService::recordingDirectory() {
    const QFileInfo runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    if (runtime.isAbsolute() && runtime.isDir() && runtime.isWritable())
        return runtime.absoluteFilePath();
    return QDir::tempPath();
}

AudioCaptureService::~AudioCaptureService() {
    cleanUp();
}

bool AudioCaptureService::startRecording() {
    m_recordingPath = recordingDirectory() + QStringLiteral("/quill_recording_") +
                      QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".m4a");
    m_audioRecorder.reset();
    auto recorder = m_createRecorder ? m_createRecorder() : nullptr;
    if (!recorder || !recorder->record(*m_recordingPath)) {
        return false;
    }
    m_audioRecorder = std::move(recorder);
    m_isRecording = true;
    m_clock.start();
    connect(m_audioRecorder.get(), &AudioRecorder::inputLost, this, &AudioCaptureService::inputLost);
    connect(m_audioRecorder.get(), &AudioRecorder::failed, this, [this] {
        stopTimers();
        m_isRecording = false;
        emit recordingFailed();
    });

    m_durationTimer = new QTimer(this);
    m_durationTimer->setSingleShot(true);
    m_durationTimer->setTimerType(Qt::PreciseTimer);
    connect(m_durationTimer, &QTimer::timeout, this, &AudioCaptureService::maxDurationReached);
    m_durationTimer->start(std::chrono::milliseconds(qint64(maxDuration * 1000.0)));

    m_meteringTimer = new QTimer(this);
    connect(m_meteringTimer, &QTimer::timeout, this, [this] {
        if (!m_audioRecorder) {
            return;
        }
        emit audioLevel(levelForPower(m_audioRecorder->averagePower()));
    });
    m_meteringTimer->start(meteringInterval);
    return true;
}

std::optional<QString> AudioCaptureService::stopRecording() {
    stopTimers();
    const auto outcome = m_audioRecorder ? m_audioRecorder->stop() : AudioRecorder::Outcome::saved;
    m_isRecording = false;
    if (outcome == AudioRecorder::Outcome::empty || outcome == AudioRecorder::Outcome::failed) {
        return std::nullopt;
    }
    return m_recordingPath;
}

void AudioCaptureService::cancelRecording() {
    stopTimers();
    if (m_audioRecorder) {
        m_audioRecorder->discard();
    }
    m_isRecording = false;
    if (m_recordingPath) {
        deleteRecording(*m_recordingPath);
    }
}

std::chrono::milliseconds AudioCaptureService::elapsed() const {
    return m_isRecording ? std::chrono::milliseconds(m_clock.elapsed()) : std::chrono::milliseconds(0);
}

std::optional<QString> AudioCaptureService::failure() const {
    if (m_isRecording || !m_audioRecorder || m_audioRecorder->outcome() != AudioRecorder::Outcome::failed)
        return std::nullopt;
    return m_audioRecorder->failure();
}

namespace {

QString keptName(const QString& suffix) {
    return QStringLiteral("quill_kept_recording_") +
           QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + suffix;
}

} // namespace

std::optional<QString> AudioCaptureService::keepRecording(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return std::nullopt;
    const QString kept = info.absoluteDir().filePath(keptName(QStringLiteral(".m4a")));
    return QFile::rename(path, kept) ? kept : path;
}

std::optional<QString> AudioCaptureService::keepUnsavedRecording() {
    if (!failure())
        return std::nullopt;
    const std::vector<qint16> samples = m_audioRecorder->takeUnsavedSamples();
    if (samples.empty())
        return std::nullopt;
    const QString name = u'/' + keptName(QStringLiteral(".wav"));
    QStringList directories{recordingDirectory()};
    if (QDir::tempPath() != directories.constFirst())
        directories.append(QDir::tempPath());
    for (const QString& directory : std::as_const(directories)) {
        QString error;
        if (WaveFile::write(directory + name, samples, AudioRecorder::kSampleRate, error))
            return directory + name;
        logLine(lcCapture(), QStringLiteral("AudioCaptureService"),
                QStringLiteral("cannot keep the recording in %1: %2").arg(directory, error));
    }
    return std::nullopt;
}

void AudioCaptureService::deleteRecording(const QString& path) {
    QFile::remove(path);
}

float AudioCaptureService::levelForPower(float power) {
    float level = (power + 50.0f) / 50.0f;
    level = std::min(level, 1.0f);
    if (!(level >= 0.0f)) {
        level = 0.0f;
    }
    return level;
}

void AudioCaptureService::stopTimers() {
    // A callback may stop the recording from inside a timer's own signal: delete them later.
    for (QTimer** timer : {&m_durationTimer, &m_meteringTimer}) {
        if (*timer) {
            (*timer)->stop();
            (*timer)->deleteLater();
            *timer = nullptr;
        }
    }
}

void AudioCaptureService::cleanUp() {
    cancelRecording();
}

} // namespace quill
