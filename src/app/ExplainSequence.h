#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace quill {

class APIError;
class AuthService;
class CaptureGate;
class ExplanationStream;
class FrontApplicationTracker;
class OverlayPanelController;
class PermissionManager;
class QuillAPIClient;
class TextCaptureService;

// Explain: reads the selection of the application in front, streams its explanation into the
// panel, fetches the detailed one on request and pastes text from the panel. Main thread only.
class ExplainSequence : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        QuillAPIClient& apiClient;
        TextCaptureService& textCapture;
        OverlayPanelController& overlay;
        PermissionManager& permissions;
        AuthService& auth;
        const FrontApplicationTracker& frontApplication;
        CaptureGate& captureGate;
    };

    // `executablePath` names this program in the message shown when selections cannot be read.
    ExplainSequence(Dependencies dependencies, QString executablePath, std::chrono::milliseconds pasteDelay,
                    QObject* parent = nullptr);

    // Each waits for a capture or paste already running to end (see CaptureGate).
    void handleExplain();
    void fetchDetailedExplanation();
    void pasteFromOverlay(const QString& text);
    // Drops the running explanation and its detail, when another sequence takes the panel.
    void cancel() { supersedeEarlierRun(); }

    // The text last sent for explanation.
    const QString& currentExplainText() const { return m_currentExplainText; }

    // The explain message when no way of reading another application's selection exists.
    static QString accessibilityRequiredMessage(const QString& executablePath);

signals:
    // An explanation is about to take the panel.
    void started();
    // A whole explanation (or detailed explanation) of `text`, emitted before the panel shows it
    // as complete, so that a directly connected history has it first.
    void explanationFinished(const QString& text, const QString& explanation);

private:
    void explainSelection();
    void requestDetail();

    // Cancels the replies of the earlier explain and its detail, so that none of their pieces,
    // ends or errors reach the panel of the new one.
    void supersedeEarlierRun();

    // Asks for an explanation of `text`; `onText` gets the text so far after every piece, `onEnd`
    // the error that ended it, if any, and the whole text. Returns the stream while it runs.
    ExplanationStream*
    requestExplanation(const QString& text, bool detailed,
                       std::function<void(const QString& accumulated)> onText,
                       std::function<void(const std::optional<APIError>&, const QString&)> onEnd);

    Dependencies m_deps;
    QString m_executablePath;
    std::chrono::milliseconds m_pasteDelay;
    QString m_currentExplainText;
    QPointer<ExplanationStream> m_explainStream;
    QPointer<ExplanationStream> m_detailStream;
};

} // namespace quill
