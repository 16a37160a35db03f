#include "FrontApplicationTracker.h"

#include "platform/ActiveWindowTracker.h"

namespace quill {

FrontApplicationTracker::FrontApplicationTracker(ActiveWindowTracker& windows, qint64 ownProcessId,
                                                 QObject* parent)
    : QObject(parent)
    , m_windows(windows)
    , m_ownProcessId(ownProcessId) {}

void FrontApplicationTracker::start() {
    if (const auto front = m_windows.frontProcessId(); front && *front != m_ownProcessId)
        m_lastActiveAppPID = *front;
    connect(&m_windows, &ActiveWindowTracker::activated, this, [this](qint64 pid) {
        if (pid != m_ownProcessId)
            m_lastActiveAppPID = pid;
    });
}

std::optional<qint32> FrontApplicationTracker::selectionOwner() const {
    const auto front = m_windows.frontProcessId();
    if (front && *front == m_ownProcessId && m_lastActiveAppPID)
        return static_cast<qint32>(*m_lastActiveAppPID);
    return std::nullopt;
}

} // namespace quill
