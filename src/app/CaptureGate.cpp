#include "CaptureGate.h"

#include <QTimer>

namespace quill {

void CaptureGate::run(QObject* context, std::function<void()> action) {
    if (m_running || !m_waiting.empty()) {
        m_waiting.push_back({context, std::move(action)});
        if (!m_running)
            runNextLater();
        return;
    }
    execute(action);
}

void CaptureGate::execute(const std::function<void()>& action) {
    m_running = true;
    action();
    m_running = false;
    if (!m_waiting.empty())
        runNextLater();
}

void CaptureGate::runNextLater() {
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        while (!m_waiting.empty() && !m_running) {
            Waiting next = std::move(m_waiting.front());
            m_waiting.pop_front();
            if (next.context) {
                execute(next.action);
                return;
            }
        }
    });
}

} // namespace quill
