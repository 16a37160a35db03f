#pragma once

#include "platform/AudioFileWriter.h"
#include "platform/PcmSource.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace quill {

// One recording: the microphone's samples encoded into a file, and a meter over them.
// Samples arrive and are encoded on the source's thread; everything else runs on the thread
// that owns the recorder.
class AudioRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kSampleRate = 16000;

    enum class Outcome {
        recording, // still running
        saved,     // the file is complete and holds the recording
        empty,     // no sample arrived; the file was removed
        failed,    // the file could not be written; it was removed, the samples are kept
        discarded, // dropped on request; the file was removed
    };

    AudioRecorder(std::unique_ptr<PcmSource> source, std::unique_ptr<AudioFileWriter> writer,
                  QObject* parent = nullptr);
    // A recording still running when its recorder goes away leaves no file behind.
    ~AudioRecorder() override;

    // Creates the file at `path` and starts filling it. False when there is no input to record
    // or the file cannot be created; then nothing is left at `path`.
    bool record(const QString& path);
    // Mean power of the samples that arrived since the previous call, in dB relative to full
    // scale: -inf for digital silence, NaN when no sample arrived.
    float averagePower();
    // Ends the recording and completes its file. Calling it again gives the same outcome.
    Outcome stop();
    // Ends the recording and removes its file.
    void discard();
    Outcome outcome() const { return m_outcome; }
    // Why the file could not be written, once the outcome is `failed`.
    QString failure() const { return m_failure; }
    // Every sample of a failed recording, as 16-bit PCM at kSampleRate, so that it can be kept
    // some other way; empty otherwise.
    std::vector<qint16> takeUnsavedSamples();

signals:
    // The chosen input is missing or went away; the recording goes on from the default one.
    void inputLost(const QString& description);
    // The recording has stopped by itself: the file could not be written (disk full, no
    // encoder) and outcome() is `failed`, or the source ended before any sound arrived (no sound
    // server, no input) and the recording holds nothing, its file gone.
    void failed();

private:
    void receive(std::span<const float> samples);
    void finish();

    std::unique_ptr<PcmSource> m_source;
    std::unique_ptr<AudioFileWriter> m_writer;
    QString m_path;
    QString m_failure;
    Outcome m_outcome = Outcome::discarded;
    std::atomic<qint64> m_samplesWritten = 0; // written on the source's thread
    std::atomic_bool m_writeFailed = false;

    std::mutex m_meterMutex;
    double m_sumOfSquares = 0.0;
    qint64 m_meteredSamples = 0;
    // Everything that arrived, until the file is known to be complete: a 30 s recording takes
    // under 1 MB.
    std::vector<qint16> m_unsaved;
};

} // namespace quill
