#pragma once

#include <QObject>
#include <QPointer>
#include <deque>
#include <functional>

namespace quill {

// Lets one action at a time read or write the selection of another application. Copying and
// pasting spin local event loops, in which shortcuts, menu commands and timers keep arriving;
// an action that arrives while another runs waits in line and runs after it, on a later turn of
// the main loop, instead of starting a second capture in the middle of the first.
class CaptureGate : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Runs `action` now when nothing runs or waits; otherwise after the others, and only if
    // `context` still exists then.
    void run(QObject* context, std::function<void()> action);

private:
    struct Waiting {
        QPointer<QObject> context;
        std::function<void()> action;
    };

    void execute(const std::function<void()>& action);
    void runNextLater();

    bool m_running = false;
    bool m_scheduled = false;
    std::deque<Waiting> m_waiting;
};

} // namespace quill
