#include "WaylandFrontWindow.h"

#include <QFileInfo>

namespace quill {

WaylandActiveWindowInfo::WaylandActiveWindowInfo(std::unique_ptr<ActiveWindowInfo> xwayland,
                                                 std::shared_ptr<KWinQuery> kwin)
    : m_xwayland(std::move(xwayland))
    , m_kwin(std::move(kwin)) {}

QStringList WaylandActiveWindowInfo::windowClass() {
    if (m_xwayland) {
        if (QStringList names = m_xwayland->windowClass(); !names.isEmpty())
            return names;
    }
    const auto answer = m_kwin ? m_kwin->ask() : std::nullopt;
    if (!answer)
        return {};
    QStringList names;
    for (const QString& name : {answer->resourceName, answer->resourceClass}) {
        if (!name.isEmpty())
            names << name;
    }
    // A native window's app id is often reverse-DNS ("org.kde.konsole"); the executable's name
    // is what the terminal lists go by.
    if (answer->processId > 0) {
        const QString executable =
            QFileInfo(QStringLiteral("/proc/%1/exe").arg(answer->processId)).symLinkTarget();
        if (!executable.isEmpty())
            names << QFileInfo(executable).fileName();
    }
    return names;
}

bool WaylandActiveWindowInfo::holdsPrimarySelection() {
    // Only XWayland tells who owns the primary selection; a native window never does.
    return m_xwayland && !m_xwayland->windowClass().isEmpty() && m_xwayland->holdsPrimarySelection();
}

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
