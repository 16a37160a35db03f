#pragma once

#include "shortcuts/Shortcut.h"

#include <QObject>
#include <chrono>
#include <memory>

namespace quill {

class AudioCaptureService;
class GlobalShortcutService;
class MicrophoneAccess;
class OverlayPanelController;
class PermissionManager;
class QuillAPIClient;
class ShortcutConfiguration;
class ShortcutRegistry;
class TextCaptureService;

// Transcribe: records the microphone while the panel shows the level, uploads the recording
// and pastes the transcript into the application in front. Owns the cancel shortcut, which is
// live only while a recording runs so that its key reaches the applications otherwise.
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
    };

    TranscribeSequence(Dependencies dependencies, const Shortcut& cancelShortcut,
                       std::chrono::milliseconds pasteDelay, QObject* parent = nullptr);
    ~TranscribeSequence() override;

    void toggleTranscription();
    void startTranscription();
    void stopAndTranscribe();
    void abortTranscription();

    bool isTranscribing() const { return m_isTranscribing; }
    GlobalShortcutService& cancelShortcutService() { return *m_cancelShortcutService; }

private:
    void deliver(const QString& text);

    Dependencies m_deps;
    std::chrono::milliseconds m_pasteDelay;
    std::unique_ptr<GlobalShortcutService> m_cancelShortcutService;
    bool m_isTranscribing = false;
};

} // namespace quill
