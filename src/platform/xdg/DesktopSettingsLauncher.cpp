#include "DesktopSettingsLauncher.h"

#include <QProcess>
#include <QStandardPaths>

namespace quill {
namespace {

struct Candidate {
    QStringList desktops; // XDG_CURRENT_DESKTOP names it fits; empty = any desktop
    QStringList command;
};

// The desktop's own program first; the others serve desktops without one.
QList<Candidate> candidates(SettingsLauncher::Pane pane) {
    if (pane == SettingsLauncher::Pane::accessibility) {
        return {
            {{"GNOME", "Unity", "Budgie", "Pantheon"}, {"gnome-control-center", "universal-access"}},
            {{"KDE"}, {"systemsettings", "kcm_access"}},
            {{"KDE"}, {"systemsettings5", "kcm_access"}},
            {{"XFCE"}, {"xfce4-accessibility-settings"}},
            {{"MATE"}, {"mate-at-properties"}},
            {{"X-Cinnamon", "Cinnamon"}, {"cinnamon-settings", "universal-access"}},
            {{}, {"gnome-control-center", "universal-access"}},
            {{}, {"systemsettings", "kcm_access"}},
            {{}, {"xfce4-accessibility-settings"}},
        };
    }
    return {
        {{"GNOME", "Unity", "Budgie", "Pantheon"}, {"gnome-control-center", "sound"}},
        {{"KDE"}, {"systemsettings", "kcm_pulseaudio"}},
        {{"KDE"}, {"systemsettings5", "kcm_pulseaudio"}},
        {{"X-Cinnamon", "Cinnamon"}, {"cinnamon-settings", "sound"}},
        {{}, {"pavucontrol", "--tab=4"}},
        {{}, {"gnome-control-center", "sound"}},
        {{}, {"systemsettings", "kcm_pulseaudio"}},
    };
}

} // namespace

DesktopSettingsLauncher::DesktopSettingsLauncher(const QString& currentDesktop, ProgramExists exists,
                                                 StartDetached start)
    : m_desktops(currentDesktop.toUpper().split(QLatin1Char(':'), Qt::SkipEmptyParts))
    , m_exists(std::move(exists))
    , m_start(std::move(start)) {}

DesktopSettingsLauncher::DesktopSettingsLauncher()
    : DesktopSettingsLauncher(
          qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
          [](const QString& program) { return !QStandardPaths::findExecutable(program).isEmpty(); },
          [](const QString& program, const QStringList& arguments) {
              return QProcess::startDetached(program, arguments);
          }) {}

QStringList DesktopSettingsLauncher::command(Pane pane) const {
    const QList<Candidate> all = candidates(pane);
    for (bool ownDesktop : {true, false}) {
        for (const Candidate& candidate : all) {
            const bool fits =
                std::any_of(candidate.desktops.cbegin(), candidate.desktops.cend(),
                            [this](const QString& d) { return m_desktops.contains(d.toUpper()); });
            if (fits != ownDesktop || (!ownDesktop && !candidate.desktops.isEmpty()))
                continue;
            if (m_exists(candidate.command.constFirst()))
                return candidate.command;
        }
    }
    return {};
}

bool DesktopSettingsLauncher::open(Pane pane) {
    const QStringList line = command(pane);
    return !line.isEmpty() && m_start(line.constFirst(), line.mid(1));
}

} // namespace quill
