#pragma once

#include "KWinQuery.h"
#include "platform/PanelWindowHelper.h"

#include <memory>
#include <optional>

namespace quill {

// Our panel in a Wayland session (`windows` does the window work, on XWayland the X11 helper)
// placed where KWin says the pointer is. Without KWin the pointer is unknown: XWayland's
// position goes stale as soon as the pointer moves over a native window, and a native Wayland
// client learns it only over its own surfaces.
class WaylandPanelWindowHelper final : public PanelWindowHelper {
public:
    WaylandPanelWindowHelper(std::unique_ptr<PanelWindowHelper> windows, std::shared_ptr<KWinQuery> kwin);

    bool compositorActive() const override { return m_windows->compositorActive(); }
    void showOnAllDesktops(QWindow* window) override { m_windows->showOnAllDesktops(window); }
    void setInputRegion(QWindow* window, const QRegion& region) override {
        m_windows->setInputRegion(window, region);
    }
    // Where KWin last said the pointer was.
    std::optional<QPoint> pointerPosition() override;
    void refreshPointerPosition(const std::function<void(std::optional<QPoint>)>& done) override;

private:
    std::unique_ptr<PanelWindowHelper> m_windows;
    std::shared_ptr<KWinQuery> m_kwin;
};

} // namespace quill
