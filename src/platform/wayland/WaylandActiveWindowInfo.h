#pragma once

#include "KWinQuery.h"
#include "platform/AccessibilityReader.h"
#include "platform/ActiveWindowInfo.h"

#include <memory>

namespace quill {

// The active window in a Wayland session. XWayland names the active window only while it is
// one of its own (its _NET_ACTIVE_WINDOW is 0 while a native window has the focus), so `xwayland`
// answers first; KWin, where it runs, names native windows too: it reports each window that
// becomes active, so naming the window in front never waits. Until KWin has reported one, and
// wherever it does not run, the application whose window the accessibility bus marks active
// stands in, as `accessibility` (which must outlive this) names it.
class WaylandActiveWindowInfo final : public ActiveWindowInfo {
public:
    WaylandActiveWindowInfo(std::unique_ptr<ActiveWindowInfo> xwayland, std::shared_ptr<KWinQuery> kwin,
                            AccessibilityReader* accessibility = nullptr);

    // XWayland's WM_CLASS; else KWin's resource names of the window or the name the application
    // gives itself on the accessibility bus, then the name of the program's executable.
    QStringList applicationNames() override;
    bool holdsPrimarySelection() override;

private:
    std::unique_ptr<ActiveWindowInfo> m_xwayland;
    std::shared_ptr<KWinQuery> m_kwin;
    AccessibilityReader* m_accessibility;
};

} // namespace quill
