#pragma once

#include <QObject>
#include <QPoint>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>

class QTemporaryFile;

namespace quill {

// What KWin knows and a Wayland client does not: where the pointer is over other clients'
// windows and which window is active. KWin offers no D-Bus call for either, so a question
// loads a one-shot script (org.kde.kwin.Scripting) that calls back into this process with the
// answer, and a script that stays loaded reports each window that becomes active. Nothing here
// waits: every call to KWin is asynchronous and answers arrive as signals.
class KWinQuery : public QObject {
    Q_OBJECT
public:
    struct Answer {
        QPoint pointer;
        // The active window's resource class and name (its Wayland app id, or WM_CLASS under
        // XWayland) and process; empty and 0 when none is active.
        QString resourceClass;
        QString resourceName;
        qint64 processId = 0;
    };

    // A question not answered within `timeoutMs` fails.
    explicit KWinQuery(int timeoutMs = 300, QObject* parent = nullptr);
    ~KWinQuery() override;

    // Whether KWin's scripting answers on the session bus. Blocks for up to half a second: for
    // diagnostics off the interface thread. Elsewhere a question that KWin cannot answer fails.
    static bool isAvailable();

    // Asks for the pointer and the active window unless a question is under way; `answered`
    // or `failed` follows.
    void ask();
    bool isAsking() const { return m_asking; }
    const std::optional<Answer>& lastAnswer() const { return m_lastAnswer; }

    // Loads the script that reports the active window whenever it changes.
    void followActiveWindow();
    // The active window as KWin last reported it (its `pointer` is not set); none before the
    // first report.
    const std::optional<Answer>& activeWindow() const { return m_activeWindow; }

signals:
    void answered(const quill::KWinQuery::Answer& answer);
    void failed();
    void activeWindowChanged();

private:
    class Receiver;
    void loadScript(const QByteArray& source, const QString& plugin, const std::function<void(bool)>& loaded);
    void finish(std::optional<Answer> answer);
    void receive(const QString& token, const Answer& answer);

    std::unique_ptr<Receiver> m_receiver;
    int m_timeoutMs;
    QTimer m_timeout;
    bool m_asking = false;
    QString m_token;
    QString m_plugin;
    QString m_followToken;
    QString m_followPlugin;
    std::unique_ptr<QTemporaryFile> m_script;
    std::unique_ptr<QTemporaryFile> m_followScript;
    std::optional<Answer> m_lastAnswer;
    std::optional<Answer> m_activeWindow;
};

} // namespace quill

Q_DECLARE_METATYPE(quill::KWinQuery::Answer)
