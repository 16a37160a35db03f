#include "TranscribeSequence.h"

#include "CaptureGate.h"
#include "PermissionManager.h"
#include "backend/QuillAPIClient.h"
#include "capture/AudioCaptureService.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "platform/Log.h"
#include "platform/MicrophoneAccess.h"
#include "preferences/PreferencesManager.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutConfiguration.h"
#include "shortcuts/ShortcutNames.h"

#include <QFile>
#include <QPointer>
#include <QTimer>
#include <utility>

namespace quill {

TranscribeSequence::TranscribeSequence(Dependencies dependencies, const Shortcut& cancelShortcut,
                                       std::chrono::milliseconds pasteDelay, QObject* parent)
    : QObject(parent)
    , m_deps(dependencies)
    , m_pasteDelay(pasteDelay)
    , m_cancelShortcutService(
          std::make_unique<GlobalShortcutService>(cancelShortcut, dependencies.shortcutRegistry)) {
    connect(m_cancelShortcutService.get(), &GlobalShortcutService::triggered, this,
            &TranscribeSequence::abortTranscription);
    connect(&m_deps.audioCapture, &AudioCaptureService::maxDurationReached, this,
            &TranscribeSequence::stopAndTranscribe, Qt::QueuedConnection);
    connect(&m_deps.audioCapture, &AudioCaptureService::audioLevel, this, &TranscribeSequence::showLevel,
            Qt::QueuedConnection);
    connect(&m_deps.audioCapture, &AudioCaptureService::inputLost, this, &TranscribeSequence::inputLost);
    connect(&m_deps.audioCapture, &AudioCaptureService::recordingFailed, this,
            &TranscribeSequence::recordingFailed, Qt::QueuedConnection);
}

TranscribeSequence::~TranscribeSequence() = default;

void TranscribeSequence::toggleTranscription() {
    m_deps.captureGate.run(this, [this] { toggleNow(); });
}

void TranscribeSequence::toggleNow() {
    if (m_isTranscribing)
        stopAndTranscribe();
    else
        startTranscription();
}

void TranscribeSequence::startTranscription() {
    if (m_deps.microphone.authorization() != MicrophoneAccess::Authorization::authorized) {
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
    emit recordingChanged(true);
    m_cancelShortcutService->registerShortcut();

    const Shortcut cancel = m_deps.shortcuts.shortcut(ShortcutAction::cancelTranscription);
    m_listeningMessage = tr("Listening... (%1 to cancel)").arg(m_deps.shortcutNames.text(cancel));
    m_secondsLeft.reset();
    // A chosen microphone that was missing at the start is reported on a later turn, like one
    // unplugged later.
    m_inputNotice.reset();
    m_deps.overlay.showRecording(m_listeningMessage);
}

void TranscribeSequence::shortcutPressed() {
    m_holding = false;
    if (m_isTranscribing) {
        stopAndTranscribe();
        return;
    }
    // From the press: opening the microphone takes a moment of the hold.
    m_pressClock.start();
    startTranscription();
    m_holding = m_isTranscribing && m_deps.preferences.holdToTalk();
}

void TranscribeSequence::shortcutReleased() {
    if (!std::exchange(m_holding, false))
        return;
    // A short press leaves the recording running: it was a toggle.
    if (m_isTranscribing && m_pressClock.elapsed() >= holdThreshold.count())
        stopAndTranscribe();
}

void TranscribeSequence::showLevel(float level) {
    m_deps.overlay.viewModel().setAudioLevel(level);
    if (!m_isTranscribing)
        return;
    using namespace std::chrono;
    const milliseconds left = duration_cast<milliseconds>(duration<double>(m_deps.audioCapture.maxDuration)) -
                              m_deps.audioCapture.elapsed();
    if (left > countdownStart || left <= milliseconds(0))
        return;
    const qint64 seconds = (left.count() + 999) / 1000;
    if (m_secondsLeft == seconds)
        return;
    m_secondsLeft = seconds;
    updateRecordingMessage();
}

void TranscribeSequence::inputLost(const QString& description) {
    if (!m_isTranscribing)
        return;
    m_inputNotice = tr("%1 is not available: recording from the system default").arg(description);
    updateRecordingMessage();
}

void TranscribeSequence::recordingFailed() {
    if (!m_isTranscribing)
        return;
    // A file that failed while recording: what was recorded is kept, and the panel says where.
    if (m_deps.audioCapture.failure()) {
        stopAndTranscribe();
        return;
    }
    m_cancelShortcutService->unregister();
    m_isTranscribing = false;
    m_holding = false;
    emit recordingChanged(false);
    m_deps.overlay.showError(tr("Failed to start recording"), true);
}

void TranscribeSequence::updateRecordingMessage() {
    ExplanationViewModel& viewModel = m_deps.overlay.viewModel();
    // An explanation that took over the panel keeps it.
    if (viewModel.mode() != ViewMode::transcribe ||
        viewModel.state().kind() != ExplanationState::Kind::loading)
        return;
    QString message = m_listeningMessage;
    if (m_secondsLeft)
        message += tr(" \u2014 %1 s left").arg(*m_secondsLeft);
    if (m_inputNotice)
        message = *m_inputNotice + u'\n' + message;
    viewModel.setLoadingMessage(message);
    m_deps.overlay.updatePanelSize(false);
}

void TranscribeSequence::stopAndTranscribe() {
    if (!m_isTranscribing)
        return;
    m_cancelShortcutService->unregister();
    m_isTranscribing = false;
    m_holding = false;
    emit recordingChanged(false);

    OverlayPanelController& overlay = m_deps.overlay;
    const double seconds = std::chrono::duration<double>(m_deps.audioCapture.elapsed()).count();
    const std::optional<QString> location = m_deps.audioCapture.stopRecording();
    if (!location) {
        if (const std::optional<QString> failure = m_deps.audioCapture.failure())
            showRecordingFailure(*failure);
        else
            overlay.hide();
        return;
    }
    QByteArray data;
    if (QFile file(*location); file.open(QIODevice::ReadOnly))
        data = file.readAll();
    if (data.isEmpty()) {
        AudioCaptureService::deleteRecording(*location);
        overlay.hide();
        return;
    }

    ExplanationViewModel& viewModel = overlay.viewModel();
    viewModel.reset();
    viewModel.setState(ExplanationState::loading());
    viewModel.setLoadingMessage(tr("Transcribing..."));
    overlay.showPanel();

    // The file goes only once its text has arrived: a failed upload must not lose the dictation.
    m_deps.apiClient.transcribe(
        data, this,
        [this, seconds, path = *location](const TranscriptionResult& result) {
            if (!result) {
                const std::optional<QString> kept = AudioCaptureService::keepRecording(path);
                m_deps.overlay.showError(kept ? result.error().message() + u'\n' +
                                                    tr("The recording is kept in %1").arg(*kept)
                                              : result.error().message(),
                                         !kept);
                return;
            }
            AudioCaptureService::deleteRecording(path);
            deliver(result.value(), seconds);
        },
        m_deps.preferences.transcriptionLanguage(), m_deps.preferences.transcriptionVocabulary());
}

void TranscribeSequence::showRecordingFailure(const QString& failure) {
    const std::optional<QString> kept = m_deps.audioCapture.keepUnsavedRecording();
    const QString message =
        tr("The recording could not be saved: %1").arg(failure) + u'\n' +
        (kept ? tr("What was recorded is kept in %1").arg(*kept) : tr("Nothing of it could be kept"));
    m_deps.overlay.showError(message, false);
}

void TranscribeSequence::deliver(const QString& text, double seconds) {
    logLatencyMark("transcribe: transcript received");
    OverlayPanelController& overlay = m_deps.overlay;
    if (text.isEmpty()) {
        stepAside();
        return;
    }
    const quint64 serial = ++m_transcriptSerial;
    emit transcriptReceived(serial, text, seconds);
    if (m_deps.textCapture.keyboardReady()) {
        stepAside();
        paste(text, serial);
        return;
    }
    // The desktop may now show a dialog of its own: the panel says what it is for, unless it
    // already shows a recording started since.
    if (!m_isTranscribing) {
        ExplanationViewModel& viewModel = overlay.viewModel();
        viewModel.setMode(ViewMode::transcribe);
        viewModel.setState(ExplanationState::loading());
        viewModel.setLoadingMessage(
            tr("To paste the transcript, Quillpoint asks the desktop for permission to "
               "type. Allow it in the dialog that opens."));
        overlay.showPanel();
    }
    // Every transcript that waits for the answer is pasted, in the order it came: neither a newer
    // one nor a recording started meanwhile may lose it.
    m_deps.textCapture.prepareKeyboard(this, [this, text, serial](bool ready) {
        if (!ready) {
            leaveOnClipboard(text, serial);
            return;
        }
        stepAside();
        paste(text, serial);
    });
}

void TranscribeSequence::stepAside() {
    if (!m_isTranscribing)
        m_deps.overlay.hide();
}

void TranscribeSequence::paste(const QString& text, quint64 serial) {
    QTimer::singleShot(m_pasteDelay, this, [this, text, serial] {
        m_deps.captureGate.run(this, [this, text, serial] {
            logLatencyMark("transcribe: pasting");
            if (!m_deps.textCapture.isKeyboardAvailable()) {
                leaveOnClipboard(text, serial);
                return;
            }
            if (!m_deps.preferences.keepClipboard()) {
                emit transcriptPasted(serial, m_deps.textCapture.pasteText(text));
                return;
            }
            const KeptPaste outcome = m_deps.textCapture.pasteTextKeepingClipboard(text);
            if (outcome == KeptPaste::clipboardInUse)
                showUnpasted(text);
            emit transcriptPasted(serial, outcome == KeptPaste::pasted);
        });
    });
}

void TranscribeSequence::leaveOnClipboard(const QString& text, quint64 serial) {
    m_deps.textCapture.pasteText(text);
    if (!m_isTranscribing)
        m_deps.overlay.showError(tr("The transcript is on the clipboard. Press Ctrl+V to paste"), false);
    emit transcriptPasted(serial, false);
}

void TranscribeSequence::showUnpasted(const QString& text) {
    ExplanationViewModel& viewModel = m_deps.overlay.viewModel();
    viewModel.reset();
    viewModel.setMode(ViewMode::transcribe);
    viewModel.setNotice(tr("Not pasted: the clipboard holds more than can be kept safely"));
    viewModel.setState(ExplanationState::content(text));
    m_deps.overlay.showPanel();
}

void TranscribeSequence::abortTranscription() {
    m_deps.captureGate.run(this, [this] { abortNow(); });
}

void TranscribeSequence::abortNow() {
    m_cancelShortcutService->unregister();
    const bool wasRecording = std::exchange(m_isTranscribing, false);
    if (wasRecording)
        m_deps.audioCapture.cancelRecording();
    m_holding = false;
    m_deps.overlay.hide();
    if (wasRecording)
        emit recordingChanged(false);
}

} // namespace quill
