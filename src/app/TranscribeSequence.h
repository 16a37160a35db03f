#pragma once

#include "shortcuts/Shortcut.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>

namespace quill {

class AudioCaptureService;
class CaptureGate;
class GlobalShortcutService;
class MicrophoneAccess;
class OverlayPanelController;
class PermissionManager;
class PreferencesManager;
class QuillAPIClient;
class ShortcutConfiguration;
class ShortcutNames;
class ShortcutRegistry;
class TextCaptureService;

// Transcribe: records the microphone while the panel shows the level, uploads the recording
// and pastes the transcript into the application in front. Owns the cancel shortcut, which is
// live only while a recording runs so that its key reaches the applications otherwise. With hold
// to talk on, letting go of a transcribe key held for a moment stops the recording it started.
class TranscribeSequence : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        AudioCaptureService& audioCapture;
        QuillAPIClient& apiClient;
        TextCaptureService& textCapture;
        OverlayPanelController& overlay;
        ShortcutConfiguration& shortcuts;
        ShortcutRegistry& shortcutRegistry;
        PermissionManager& permissions;
        MicrophoneAccess& microphone;
        PreferencesManager& preferences;
        CaptureGate& captureGate;
        const ShortcutNames& shortcutNames;
    };

    // A press at least this long is held to talk rather than a toggle.
    static constexpr std::chrono::milliseconds holdThreshold{300};
    // The panel counts down the seconds left in this last stretch of the longest recording.
    static constexpr std::chrono::seconds countdownStart{5};

    TranscribeSequence(Dependencies dependencies, const Shortcut& cancelShortcut,
                       std::chrono::milliseconds pasteDelay, QObject* parent = nullptr);
    ~TranscribeSequence() override;

    // Toggling and aborting wait for a capture or paste already running to end (see CaptureGate).
    void toggleTranscription();
    void startTranscription();
    void stopAndTranscribe();
    void abortTranscription();
    // The transcribe shortcut's key went down, and up again.
    void shortcutPressed();
    void shortcutReleased();

    bool isTranscribing() const { return m_isTranscribing; }
    GlobalShortcutService& cancelShortcutService() { return *m_cancelShortcutService; }

signals:
    // A transcript of a recording `seconds` long, emitted before it is shown or pasted; `serial`
    // names it in transcriptPasted, which tells whether the paste key went out.
    void transcriptReceived(quint64 serial, const QString& transcript, double seconds);
    void transcriptPasted(quint64 serial, bool pasted);
    // A recording started, before its cancel key is taken, or ended, after the key was let go.
    void recordingChanged(bool recording);

private:
    void toggleNow();
    void abortNow();
    void deliver(const QString& text, double seconds);
    // The panel makes way for the paste, unless it shows a recording started since.
    void stepAside();
    void paste(const QString& text, quint64 serial);
    // The keyboard was refused: the transcript waits on the clipboard for the user's own paste
    // (said in the panel, unless that shows a recording started since).
    void leaveOnClipboard(const QString& text, quint64 serial);
    // Shows a transcript that could not be pasted without losing the clipboard, to copy by hand.
    void showUnpasted(const QString& text);
    void showLevel(float level);
    void inputLost(const QString& description);
    void recordingFailed();
    void updateRecordingMessage();
    void showRecordingFailure(const QString& failure);

    Dependencies m_deps;
    std::chrono::milliseconds m_pasteDelay;
    std::unique_ptr<GlobalShortcutService> m_cancelShortcutService;
    bool m_isTranscribing = false;
    // Set while the key that started the running recording is held with hold to talk on.
    bool m_holding = false;
    QElapsedTimer m_pressClock;
    QString m_listeningMessage;
    std::optional<QString> m_inputNotice;
    std::optional<qint64> m_secondsLeft;
    quint64 m_transcriptSerial = 0;
};

} // namespace quill
