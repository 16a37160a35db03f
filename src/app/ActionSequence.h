#pragma once

#include "preferences/UserAction.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <chrono>
#include <optional>

namespace quill {

class APIError;
class AuthService;
class CaptureGate;
class Clipboard;
class ExplanationStream;
class FrontApplicationTracker;
class OverlayPanelController;
class PermissionManager;
class QuillAPIClient;
class TextCaptureService;

// One of the user's actions: reads the selection like Explain, sends it with the action's
// instruction and streams the answer into the panel; then leaves it there, puts it on the
// clipboard, or pastes it over the selection. A replacement goes out only while the panel is
// still up and the same application still has the same selection: a user who dismissed the
// panel or clicked elsewhere gets nothing pasted over what is selected now. Main thread only.
class ActionSequence : public QObject {
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
        Clipboard& clipboard;
    };

    ActionSequence(Dependencies dependencies, QString executablePath, std::chrono::milliseconds pasteDelay,
                   QObject* parent = nullptr);

    // Waits for a capture or paste already running to end (see CaptureGate).
    void run(const UserAction& action);
    // Drops the running answer: nothing more reaches the panel and nothing is pasted.
    void cancel();

signals:
    // An action is about to take the panel.
    void started();
    // A whole answer, emitted before it is shown as complete, copied or pasted, so that a
    // directly connected history has it first.
    void resultFinished(const QString& actionName, const QString& input, const QString& output);
    // A replacement was pasted (true) or withheld because the selection changed (false).
    void replaceEnded(bool pasted);

private:
    struct Selection {
        QString text;
        std::optional<qint32> owner;
        bool viaAccessibility = false;
    };

    void start(const UserAction& action);
    void finish(const UserAction& action, const Selection& selection, const QString& answer);
    void replace(const Selection& selection, const QString& answer);
    bool selectionUnchanged(const Selection& selection);
    void keepInPanel(const QString& answer, const QString& notice);

    Dependencies m_deps;
    QString m_executablePath;
    std::chrono::milliseconds m_pasteDelay;
    QPointer<ExplanationStream> m_stream;
    // Tells a replacement that waits for its turn whether it was superseded meanwhile.
    quint64 m_run = 0;
};

} // namespace quill
