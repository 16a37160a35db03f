#include "ExplainSequence.h"

#include "CaptureGate.h"
#include "FrontApplicationTracker.h"
#include "PermissionManager.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"

#include <QTimer>
#include <memory>

namespace quill {
namespace {

void dropStream(ExplanationStream* stream) {
    if (stream) {
        stream->cancel();
        stream->deleteLater();
    }
}

} // namespace

ExplainSequence::ExplainSequence(Dependencies dependencies, QString executablePath,
                                 std::chrono::milliseconds pasteDelay, QObject* parent)
    : QObject(parent)
    , m_deps(dependencies)
    , m_executablePath(std::move(executablePath))
    , m_pasteDelay(pasteDelay) {}

QString ExplainSequence::accessibilityRequiredMessage(const QString& executablePath) {
    return tr("Accessibility required.\n\nIf already turned on, log out and back in, then start "
              "Quillpoint again:\n%1")
        .arg(executablePath);
}

void ExplainSequence::handleExplain() {
    m_deps.captureGate.run(this, [this] { explainSelection(); });
}

void ExplainSequence::explainSelection() {
    supersedeEarlierRun();
    emit started();
    OverlayPanelController& overlay = m_deps.overlay;
    if (!m_deps.permissions.canReadSelections()) {
        overlay.showError(accessibilityRequiredMessage(m_executablePath), false);
        m_deps.permissions.openAccessibilitySettings();
        return;
    }
    if (!m_deps.auth.isAuthenticated()) {
        overlay.showError(tr("Please sign in via Preferences (Ctrl+,)"), true);
        return;
    }

    std::optional<QString> text =
        m_deps.textCapture.selectedTextViaAccessibility(m_deps.frontApplication.selectionOwner());
    if (!text && !m_deps.textCapture.keyboardReady() && m_deps.textCapture.isKeyboardAvailable()) {
        // The copy needs the keyboard, and the desktop may now ask the user for it in a dialog
        // of its own: the panel says what it is for, and the selection is read once it is answered.
        ExplanationViewModel& viewModel = overlay.viewModel();
        viewModel.reset();
        viewModel.setState(ExplanationState::loading());
        viewModel.setLoadingMessage(
            tr("To copy the selected text, Quillpoint asks the desktop for permission "
               "to type. Allow it in the dialog that opens."));
        overlay.showPanel();
        m_deps.textCapture.prepareKeyboard(this, [this](bool ready) {
            if (ready)
                handleExplain();
            else
                m_deps.overlay.showError(tr("No text selected"), true);
        });
        return;
    }
    if (!text)
        text = m_deps.textCapture.selectedTextViaCopy();
    if (!text || text->trimmed().isEmpty()) {
        overlay.showError(tr("No text selected"), true);
        return;
    }
    m_currentExplainText = *text;

    ExplanationViewModel& viewModel = overlay.viewModel();
    viewModel.reset();
    // The request goes out before the panel is shown, which takes longer than sending it.
    m_explainStream = requestExplanation(
        *text, false,
        [&overlay](const QString& accumulated) {
            overlay.viewModel().setState(ExplanationState::content(accumulated));
            overlay.scheduleResize();
        },
        [this, &overlay, selected = *text](const std::optional<APIError>& error, const QString& accumulated) {
            if (error) {
                overlay.showError(error->message(), true);
                return;
            }
            if (!accumulated.isEmpty())
                emit explanationFinished(selected, accumulated);
            overlay.finishStreaming();
            if (accumulated.isEmpty())
                overlay.showError(tr("No response received"), true);
        });
    // Without a stream the request failed at once, and the panel shows why.
    if (!m_explainStream)
        return;
    viewModel.setState(ExplanationState::loading());
    viewModel.setLoadingMessage(std::nullopt);
    overlay.showPanel();
}

void ExplainSequence::fetchDetailedExplanation() {
    m_deps.captureGate.run(this, [this] { requestDetail(); });
}

void ExplainSequence::requestDetail() {
    if (m_currentExplainText.isEmpty())
        return;
    OverlayPanelController& overlay = m_deps.overlay;
    overlay.viewModel().setIsLoadingDetail(true);

    dropStream(m_detailStream);
    m_detailStream = requestExplanation(
        m_currentExplainText, true,
        [&overlay](const QString& accumulated) {
            overlay.viewModel().setDetailedText(accumulated);
            overlay.scheduleResize();
        },
        [this, &overlay, selected = m_currentExplainText](const std::optional<APIError>& error,
                                                          const QString& accumulated) {
            if (error) {
                overlay.viewModel().setIsLoadingDetail(false);
                overlay.showError(error->message(), true);
                return;
            }
            if (!accumulated.isEmpty())
                emit explanationFinished(selected, accumulated);
            overlay.finishDetailLoading();
        });
}

void ExplainSequence::supersedeEarlierRun() {
    dropStream(m_explainStream);
    dropStream(m_detailStream);
}

ExplanationStream* ExplainSequence::requestExplanation(
    const QString& text, bool detailed, std::function<void(const QString& accumulated)> onText,
    std::function<void(const std::optional<APIError>&, const QString&)> onEnd) {
    ExplainResult request = m_deps.apiClient.explain(text, detailed);
    if (!request) {
        onEnd(request.error(), QString());
        return nullptr;
    }
    // The stream belongs to the sequence while it runs, so a sequence that goes away takes it along.
    ExplanationStream* stream = request.value().release();
    stream->setParent(this);
    auto accumulated = std::make_shared<QString>();
    connect(stream, &ExplanationStream::pieceReceived, this,
            [accumulated, onText = std::move(onText)](const QString& piece) {
                *accumulated += piece;
                onText(*accumulated);
            });
    connect(stream, &ExplanationStream::finished, this,
            [stream, accumulated, onEnd = std::move(onEnd)](const std::optional<APIError>& error) {
                stream->deleteLater();
                onEnd(error, *accumulated);
            });
    return stream;
}

void ExplainSequence::pasteFromOverlay(const QString& text) {
    // Hidden first, so that the application the user came from receives the paste.
    m_deps.overlay.hide();
    QTimer::singleShot(m_pasteDelay, this, [this, text] {
        m_deps.captureGate.run(this, [this, text] { m_deps.textCapture.pasteText(text); });
    });
}

} // namespace quill
