#pragma once

#include "AudioRecorder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quill {

// Records the user's voice from the default microphone into a temporary .m4a file (AAC,
// 16 kHz, mono) for transcription, reports the input level ten times a second and says once
// when the recording has reached its maximum length. Main thread only.
class AudioCaptureService : public QObject {
    Q_OBJECT
public:
    using RecorderFactory = std::function<std::unique_ptr<AudioRecorder>()>;

    explicit AudioCaptureService(RecorderFactory createRecorder, QObject* parent = nullptr);
    // Whatever recording file is still on disk goes with the service.
    ~AudioCaptureService() override;

    // Starts a new recording; true when the recorder could be created. Not while one is running.
    bool startRecording();
    // Ends the recording and gives its file, which the caller reads and then deletes. None when
    // no recording was ever started, or when the recording holds nothing (no sound arrived,
    // or the file could not be written; then the file is already gone).
    std::optional<QString> stopRecording();
    // Ends the recording and deletes its file.
    void cancelRecording();
    // Why the last recording failed, when its file could not be written; none otherwise.
    std::optional<QString> failure() const;
    // Writes what the last, failed recording captured to a .wav file the user can still use,
    // in the recording directory or else the temporary directory, and gives its path. None when
    // there is nothing to keep or no room anywhere. Once only.
    std::optional<QString> keepUnsavedRecording();
    // Moves a recording file whose upload failed out of the way of the clean-up at quit, and
    // gives where it now is; none when it is gone.
    static std::optional<QString> keepRecording(const QString& path);
    // Removes a recording file; a missing file or a refusal is not an error worth reporting.
    static void deleteRecording(const QString& path);
    // Where recordings go: $XDG_RUNTIME_DIR, private to the user and kept in memory, else the
    // temporary directory.
    static QString recordingDirectory();

    // 0 at or below -50 dB, 1 at 0 dB and above, linear in decibels between; 0 for NaN.
    static float levelForPower(float power);

    bool isRecording() const { return m_isRecording; }
    const std::optional<QString>& recordingPath() const { return m_recordingPath; }
    AudioRecorder* audioRecorder() const { return m_audioRecorder.get(); }

    double maxDuration = 30.0; // seconds
    std::chrono::milliseconds meteringInterval{100};

    // Time since the running recording started; zero when none runs.
    std::chrono::milliseconds elapsed() const;

signals:
    void maxDurationReached();
    void audioLevel(float level);
    // The chosen microphone is missing or went away; the recording goes on from the default one.
    void inputLost(const QString& description);
    // The recording ended by itself: it could not get going after startRecording() had answered
    // (the sound server or the input was missing), or its file could not be written, which
    // failure() then tells; stopRecording() gives no file either way.
    void recordingFailed();

private:
    void stopTimers();
    void cleanUp();

    RecorderFactory m_createRecorder;
    std::unique_ptr<AudioRecorder> m_audioRecorder;
    std::optional<QString> m_recordingPath;
    bool m_isRecording = false;
    QTimer* m_durationTimer = nullptr; // children of the service, so they die with it
    QTimer* m_meteringTimer = nullptr;
    QElapsedTimer m_clock;
};

} // namespace quill
