#include "ActionSequence.h"

#include "CaptureGate.h"
#include "ExplainSequence.h"
#include "FrontApplicationTracker.h"
#include "PermissionManager.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "capture/TextCaptureService.h"
#include "overlay/OverlayPanelController.h"
#include "platform/Clipboard.h"

#include <QCoreApplication>
#include <QTimer>
#include <memory>

namespace quill {

ActionSequence::ActionSequence(Dependencies dependencies, QString executablePath,
                               std::chrono::milliseconds pasteDelay, QObject* parent)
    : QObject(parent)
    , m_deps(dependencies)
    , m_executablePath(std::move(executablePath))
    , m_pasteDelay(pasteDelay) {}

void ActionSequence::run(const UserAction& action) {
    m_deps.captureGate.run(this, [this, action] { start(action); });
}

void ActionSequence::cancel() {
    ++m_run;
    if (m_stream) {
        m_stream->cancel();
        m_stream->deleteLater();
    }
}

void ActionSequence::start(const UserAction& action) {
    cancel();
    emit started();
    OverlayPanelController& overlay = m_deps.overlay;
    // The same words as Explain's, for the same situations.
    if (!m_deps.permissions.canReadSelections()) {
        overlay.showError(ExplainSequence::accessibilityRequiredMessage(m_executablePath), false);
        m_deps.permissions.openAccessibilitySettings();
        return;
    }
    if (!m_deps.auth.isAuthenticated()) {
        overlay.showError(
            QCoreApplication::translate("quill::ExplainSequence", "Please sign in via Preferences (Ctrl+,)"),
            true);
        return;
    }

    Selection selection;
    selection.owner = m_deps.frontApplication.selectionOwner();
    std::optional<QString> text = m_deps.textCapture.selectedTextViaAccessibility(selection.owner);
    selection.viaAccessibility = text.has_value();
    if (!text)
        text = m_deps.textCapture.selectedTextViaCopy();
    if (!text || text->trimmed().isEmpty()) {
        overlay.showError(QCoreApplication::translate("quill::ExplainSequence", "No text selected"), true);
        return;
    }
    selection.text = *text;

    ExplainResult request = m_deps.apiClient.explain(selection.text, false, action.instruction);
    if (!request) {
        overlay.showError(request.error().message(), true);
        return;
    }
    ExplanationViewModel& viewModel = overlay.viewModel();
    viewModel.reset();
    viewModel.setState(ExplanationState::loading());
    viewModel.setLoadingMessage(action.name);
    overlay.showPanel();

    ExplanationStream* stream = request.value().release();
    stream->setParent(this);
    m_stream = stream;
    // What the panel shows while it is ours; anything else means the user dismissed it or
    // another sequence took it, and this answer is dropped.
    auto shown = std::make_shared<ExplanationState>(ExplanationState::loading());
    auto accumulated = std::make_shared<QString>();
    connect(stream, &ExplanationStream::pieceReceived, this,
            [this, &overlay, shown, accumulated](const QString& piece) {
                ExplanationViewModel& model = overlay.viewModel();
                if (!(model.state() == *shown)) {
                    cancel();
                    return;
                }
                *accumulated += piece;
                *shown = ExplanationState::content(*accumulated);
                // Paste and Copy, without the explanation's request for more detail.
                model.setMode(ViewMode::transcribe);
                model.setState(*shown);
                overlay.scheduleResize();
            });
    connect(stream, &ExplanationStream::finished, this,
            [this, &overlay, stream, shown, accumulated, action,
             selection](const std::optional<APIError>& error) {
                stream->deleteLater();
                if (!(overlay.viewModel().state() == *shown))
                    return;
                if (error) {
                    overlay.showError(error->message(), true);
                    return;
                }
                if (accumulated->isEmpty()) {
                    overlay.showError(
                        QCoreApplication::translate("quill::ExplainSequence", "No response received"), true);
                    return;
                }
                finish(action, selection, *accumulated);
            });
}

void ActionSequence::finish(const UserAction& action, const Selection& selection, const QString& answer) {
    emit resultFinished(action.name, selection.text, answer);
    OverlayPanelController& overlay = m_deps.overlay;
    switch (action.result) {
    case ActionResult::panel:
        overlay.finishStreaming();
        break;
    case ActionResult::copy:
        m_deps.clipboard.setText(answer);
        keepInPanel(answer, tr("Copied to the clipboard."));
        break;
    case ActionResult::replace:
        overlay.finishStreaming();
        // On a later turn: this runs inside the network reply's own signal, and checking the
        // selection may spin an event loop that must not delete the reply under it.
        QTimer::singleShot(0, this, [this, selection, answer, run = m_run] {
            m_deps.captureGate.run(this, [this, selection, answer, run] {
                if (run == m_run)
                    replace(selection, answer);
            });
        });
        break;
    }
}

void ActionSequence::replace(const Selection& selection, const QString& answer) {
    if (!(m_deps.overlay.viewModel().state() == ExplanationState::content(answer)))
        return;
    if (!selectionUnchanged(selection)) {
        keepInPanel(answer, tr("The selection changed, so it was not replaced."));
        emit replaceEnded(false);
        return;
    }
    // Hidden first, so that the application the selection belongs to receives the paste.
    m_deps.overlay.hide();
    QTimer::singleShot(m_pasteDelay, this, [this, answer, run = m_run] {
        if (run != m_run)
            return;
        m_deps.captureGate.run(this, [this, answer] {
            m_deps.textCapture.pasteTextKeepingClipboard(answer);
            emit replaceEnded(true);
        });
    });
}

bool ActionSequence::selectionUnchanged(const Selection& selection) {
    if (m_deps.frontApplication.selectionOwner() != selection.owner)
        return false;
    // Read the way it was read before, so that the two readings compare.
    const std::optional<QString> now = selection.viaAccessibility
                                           ? m_deps.textCapture.selectedTextViaAccessibility(selection.owner)
                                           : m_deps.textCapture.selectedTextViaCopy();
    return now == selection.text;
}

void ActionSequence::keepInPanel(const QString& answer, const QString& notice) {
    OverlayPanelController& overlay = m_deps.overlay;
    overlay.viewModel().setMode(ViewMode::transcribe);
    // Apart from the answer, so that Copy and Paste take the answer alone.
    overlay.viewModel().setNotice(notice);
    overlay.viewModel().setState(ExplanationState::content(answer));
    overlay.finishStreaming();
}

} // namespace quill
