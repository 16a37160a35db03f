#include "ActionThrottle.h"

namespace quill {

bool ActionThrottle::admit(RemoteAction action, std::chrono::milliseconds now) {
    const auto limit = action == RemoteAction::transcribe ? toggleWindow : window;
    const auto last = m_lastRequest.find(action);
    const bool inBurst = last != m_lastRequest.end() && now - last->second < limit;
    m_lastRequest[action] = now;
    return !inBurst;
}

} // namespace quill
