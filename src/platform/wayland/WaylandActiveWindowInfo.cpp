#include "WaylandActiveWindowInfo.h"

#include <QFileInfo>

namespace quill {

namespace {

// A native window's app id is often reverse-DNS ("org.kde.konsole"); the executable's name is
// what the terminal lists go by.
void addExecutableName(QStringList& names, qint64 processId) {
    if (processId <= 0)
        return;
    const QString executable = QFileInfo(QStringLiteral("/proc/%1/exe").arg(processId)).symLinkTarget();
    if (!executable.isEmpty())
        names << QFileInfo(executable).fileName();
}

} // namespace

WaylandActiveWindowInfo::WaylandActiveWindowInfo(std::unique_ptr<ActiveWindowInfo> xwayland,
                                                 std::shared_ptr<KWinQuery> kwin,
                                                 AccessibilityReader* accessibility)
    : m_xwayland(std::move(xwayland))
    , m_kwin(std::move(kwin))
    , m_accessibility(accessibility) {
    if (m_kwin)
        m_kwin->followActiveWindow();
}

QStringList WaylandActiveWindowInfo::applicationNames() {
    if (m_xwayland) {
        if (QStringList names = m_xwayland->applicationNames(); !names.isEmpty())
            return names;
    }
    QStringList names;
    // Until KWin reports a window (elsewhere it never does), the accessibility bus stands in.
    if (m_kwin && m_kwin->activeWindow()) {
        const KWinQuery::Answer& answer = *m_kwin->activeWindow();
        for (const QString& name : {answer.resourceName, answer.resourceClass}) {
            if (!name.isEmpty())
                names << name;
        }
        addExecutableName(names, answer.processId);
    } else if (m_accessibility) {
        const auto application = m_accessibility->activeApplication();
        if (!application)
            return {};
        if (!application->name.isEmpty())
            names << application->name;
        addExecutableName(names, application->processId);
    }
    return names;
}

bool WaylandActiveWindowInfo::holdsPrimarySelection() {
    // Only XWayland tells who owns the primary selection; a native window never does.
    return m_xwayland && !m_xwayland->applicationNames().isEmpty() && m_xwayland->holdsPrimarySelection();
}

} // namespace quill
