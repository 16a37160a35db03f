#include "WaylandPanelWindowHelper.h"

#include <memory>

namespace quill {

WaylandPanelWindowHelper::WaylandPanelWindowHelper(std::unique_ptr<PanelWindowHelper> windows,
                                                   std::shared_ptr<KWinQuery> kwin)
    : m_windows(std::move(windows))
    , m_kwin(std::move(kwin)) {}

std::optional<QPoint> WaylandPanelWindowHelper::pointerPosition() {
    if (!m_kwin || !m_kwin->lastAnswer())
        return std::nullopt;
    return m_kwin->lastAnswer()->pointer;
}

void WaylandPanelWindowHelper::refreshPointerPosition(
    const std::function<void(std::optional<QPoint>)>& done) {
    if (!m_kwin) {
        done(std::nullopt);
        return;
    }
    // One context per request: whichever of the two signals comes first ends it.
    auto* request = new QObject(m_kwin.get());
    auto finished = std::make_shared<bool>(false);
    auto finish = [request, finished, done](std::optional<QPoint> pointer) {
        if (*finished)
            return;
        *finished = true;
        request->deleteLater();
        done(pointer);
    };
    QObject::connect(m_kwin.get(), &KWinQuery::answered, request,
                     [finish](const KWinQuery::Answer& answer) { finish(answer.pointer); });
    QObject::connect(m_kwin.get(), &KWinQuery::failed, request, [finish] { finish(std::nullopt); });
    m_kwin->ask();
}

} // namespace quill
