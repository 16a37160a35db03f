#pragma once

#include "KWinQuery.h"
#include "platform/ActiveWindowInfo.h"
#include "platform/PanelWindowHelper.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace quill {

// The active window in a Wayland session. XWayland names the active window only while it is
// one of its own (its _NET_ACTIVE_WINDOW is 0 while a native window has the focus), so `xwayland`
// answers first; KWin, where it runs, names native windows too. Elsewhere the application whose
// window the accessibility bus marks active stands in: `accessible` gives its process and name.
class WaylandActiveWindowInfo final : public ActiveWindowInfo {
public:
    using AccessibleApplication = std::function<std::optional<std::pair<qint64, QString>>()>;
    WaylandActiveWindowInfo(std::unique_ptr<ActiveWindowInfo> xwayland, std::shared_ptr<KWinQuery> kwin,
                            AccessibleApplication accessible = {});

    // The instance and class names, then the name of the program's executable.
    QStringList windowClass() override;
    bool holdsPrimarySelection() override;

private:
    std::unique_ptr<ActiveWindowInfo> m_xwayland;
    std::shared_ptr<KWinQuery> m_kwin;
    AccessibleApplication m_accessible;
};

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
    std::optional<QPoint> pointerPosition() override;

private:
    std::unique_ptr<PanelWindowHelper> m_windows;
    std::shared_ptr<KWinQuery> m_kwin;
};

} // namespace quill
