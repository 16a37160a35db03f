#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace quill {

// Opens panes of the desktop's own settings program.
class SettingsLauncher {
public:
    enum class Pane { Accessibility, Microphone };
    virtual ~SettingsLauncher() = default;
    // False when this desktop has no settings program for the pane.
    virtual bool open(Pane pane) = 0;
};

class NullSettingsLauncher final : public SettingsLauncher {
public:
    bool open(Pane) override { return false; }
};

// Chooses by XDG_CURRENT_DESKTOP among the settings programs that are installed, and starts
// the first fitting one detached.
class DesktopSettingsLauncher final : public SettingsLauncher {
public:
    using ProgramExists = std::function<bool(const QString& program)>;
    using StartDetached = std::function<bool(const QString& program, const QStringList& arguments)>;

    DesktopSettingsLauncher(QString currentDesktop, ProgramExists exists, StartDetached start);
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
