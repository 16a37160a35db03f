#pragma once

#include <QPoint>
#include <QString>
#include <memory>
#include <optional>

namespace quill {

// What KWin knows and a Wayland client does not: where the pointer is over other clients'
// windows and which window is active. KWin offers no D-Bus call for either, so each question
// loads a one-shot script (org.kde.kwin.Scripting) that calls back into this process with the
// answer. Waits at most `timeoutMs`, handling events other than user input meanwhile.
class KWinQuery {
public:
    struct Answer {
        QPoint pointer;
        // The active window's resource class and name (its Wayland app id, or WM_CLASS under
        // XWayland) and process; empty and 0 when none is active.
        QString resourceClass;
        QString resourceName;
        qint64 processId = 0;
    };

    explicit KWinQuery(int timeoutMs = 300);
    ~KWinQuery();
    KWinQuery(const KWinQuery&) = delete;
    KWinQuery& operator=(const KWinQuery&) = delete;

    // Whether KWin's scripting answers on the session bus.
    static bool isAvailable();
    std::optional<Answer> ask();

private:
    class Receiver;
    std::unique_ptr<Receiver> m_receiver;
    int m_timeoutMs;
};

} // namespace quill
