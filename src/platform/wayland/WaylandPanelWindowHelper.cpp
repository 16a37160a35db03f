#include "WaylandPanelWindowHelper.h"

namespace quill {

WaylandPanelWindowHelper::WaylandPanelWindowHelper(std::unique_ptr<PanelWindowHelper> windows,
                                                   std::shared_ptr<KWinQuery> kwin)
    : m_windows(std::move(windows))
    , m_kwin(std::move(kwin)) {}

std::optional<QPoint> WaylandPanelWindowHelper::pointerPosition() {
    const auto answer = m_kwin ? m_kwin->ask() : std::nullopt;
    if (!answer)
        return std::nullopt;
    return answer->pointer;
}

} // namespace quill
