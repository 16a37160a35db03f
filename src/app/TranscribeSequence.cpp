#include "TranscribeSequence.h"

#include "PermissionManager.h"
#include "backend/QuillAPIClient.h"
#include "capture/AudioCaptureService.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "platform/MicrophoneAccess.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QFile>
#include <QPointer>
#include <QTimer>

namespace quill {

TranscribeSequence::TranscribeSequence(Dependencies dependencies, const Shortcut& cancelShortcut,
                                       std::chrono::milliseconds pasteDelay, QObject* parent)
    : QObject(parent)
    , m_deps(dependencies)
    , m_pasteDelay(pasteDelay)
    , m_cancelShortcutService(std::make_unique<GlobalShortcutService>(
          cancelShortcut,
          [self = QPointer(this)] {
              if (self)
                  self->abortTranscription();
          },
          dependencies.shortcutRegistry)) {
    m_deps.audioCapture.onMaxDurationReached = [self = QPointer(this)] {
        QMetaObject::invokeMethod(
            self,
            [self] {
                if (self)
                    self->stopAndTranscribe();
            },
            Qt::QueuedConnection);
    };
    m_deps.audioCapture.onAudioLevel = [self = QPointer(this)](float level) {
        QMetaObject::invokeMethod(
            self,
            [self, level] {
                if (self)
                    self->m_deps.overlay.viewModel().setAudioLevel(level);
            },
            Qt::QueuedConnection);
    };
}

TranscribeSequence::~TranscribeSequence() = default;

void TranscribeSequence::toggleTranscription() {
    if (m_isTranscribing)
        stopAndTranscribe();
    else
        startTranscription();
}

void TranscribeSequence::startTranscription() {
    if (m_deps.microphone.authorization() != MicrophoneAccess::Authorization::Authorized) {
        m_deps.permissions.requestMicrophoneAccess([self = QPointer(this)](bool granted) {
            if (granted && self)
                self->startTranscription();
        });
        return;
    }
    if (!m_deps.audioCapture.startRecording()) {
        m_deps.overlay.showError(tr("Failed to start recording"), true);
        return;
    }
    m_isTranscribing = true;
    m_cancelShortcutService->registerShortcut();

    const Shortcut cancel = m_deps.shortcuts.shortcut(ShortcutAction::cancelTranscription);
    m_deps.overlay.showRecording(tr("Listening... (%1 to cancel)").arg(displayString(cancel)));
}

void TranscribeSequence::stopAndTranscribe() {
    if (!m_isTranscribing)
        return;
    m_cancelShortcutService->unregister();
    m_isTranscribing = false;

    OverlayPanelController& overlay = m_deps.overlay;
    const std::optional<QString> location = m_deps.audioCapture.stopRecording();
    if (!location) {
        overlay.hide();
        return;
    }
    QByteArray data;
    if (QFile file(*location); file.open(QIODevice::ReadOnly))
        data = file.readAll();
    AudioCaptureService::deleteRecording(*location);
    if (data.isEmpty()) {
        overlay.hide();
        return;
    }

    ExplanationViewModel& viewModel = overlay.viewModel();
    viewModel.reset();
    viewModel.setState(ExplanationState::loading());
    viewModel.setLoadingMessage(tr("Transcribing..."));
    overlay.showPanel();

    m_deps.apiClient.transcribe(data, this, [this](const TranscriptionResult& result) {
        if (!result) {
            m_deps.overlay.showError(result.error().message(), true);
            return;
        }
        deliver(result.value());
    });
}

void TranscribeSequence::deliver(const QString& text) {
    OverlayPanelController& overlay = m_deps.overlay;
    if (text.isEmpty()) {
        overlay.hide();
        return;
    }
    ExplanationViewModel& viewModel = overlay.viewModel();
    viewModel.setMode(ViewMode::transcribe);
    viewModel.setState(ExplanationState::content(text));
    overlay.updatePanelSize(true);
    overlay.hide();
    QTimer::singleShot(m_pasteDelay, this, [this, text] { m_deps.textCapture.pasteText(text); });
}

void TranscribeSequence::abortTranscription() {
    m_cancelShortcutService->unregister();
    if (m_isTranscribing) {
        m_deps.audioCapture.cancelRecording();
        m_isTranscribing = false;
    }
    m_deps.overlay.hide();
}

} // namespace quill
