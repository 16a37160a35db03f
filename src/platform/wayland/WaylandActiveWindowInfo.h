#pragma once

#include "KWinQuery.h"
#include "platform/ActiveWindowInfo.h"

#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace quill {

// The active window in a Wayland session. XWayland names the active window only while it is
// one of its own (its _NET_ACTIVE_WINDOW is 0 while a native window has the focus), so `xwayland`
// answers first; KWin, where it runs, names native windows too: it reports each window that
// becomes active, so naming the window in front never waits. Until KWin has reported one, and
// wherever it does not run, the application whose window the accessibility bus marks active
// stands in: `accessible` gives its process and name.
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

} // namespace quill
