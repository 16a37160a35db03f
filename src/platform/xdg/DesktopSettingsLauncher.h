#pragma once

#include "platform/SettingsLauncher.h"

#include <QStringList>
#include <functional>

namespace quill {

// Chooses by XDG_CURRENT_DESKTOP among the settings programs that are installed, and starts
// the first fitting one detached.
class DesktopSettingsLauncher final : public SettingsLauncher {
public:
    using ProgramExists = std::function<bool(const QString& program)>;
    using StartDetached = std::function<bool(const QString& program, const QStringList& arguments)>;

    DesktopSettingsLauncher(const QString& currentDesktop, ProgramExists exists, StartDetached start);
    // Reads XDG_CURRENT_DESKTOP and the PATH of this process.
    DesktopSettingsLauncher();

    bool open(Pane pane) override;
    // The command line for the pane on this desktop, program first; empty when none is installed.
    QStringList command(Pane pane) const;

private:
    QStringList m_desktops;
    ProgramExists m_exists;
    StartDetached m_start;
};

} // namespace quill
