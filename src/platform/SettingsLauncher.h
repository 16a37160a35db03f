#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace quill {

// Opens panes of the desktop's own settings program.
class SettingsLauncher {
public:
    enum class Pane { accessibility, microphone };
    virtual ~SettingsLauncher() = default;
    // False when this desktop has no settings program for the pane.
    virtual bool open(Pane pane) = 0;
};

} // namespace quill
