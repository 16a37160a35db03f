#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace quill {

// What the running program can be asked to do from outside: the actions of the
// org.freedesktop.Application interface and the matching command-line options.
// `action` runs one of the user's own actions, named by its id.
enum class RemoteAction { explain, transcribe, cancel, preferences, history, quit, action };

std::optional<RemoteAction> remoteActionNamed(const QString& name);
QString remoteActionName(RemoteAction action);

// The command line, read before any window-system connection exists so that --help, --version
// and mistakes are answered on any machine.
struct CommandLine {
    enum class Mode { run, help, version, diagnose, error };

    Mode mode = Mode::run;
    std::optional<RemoteAction> action;
    // The id of the user's action for RemoteAction::action.
    QString actionId;
    // The help text, the version line or the error message, as the mode says.
    QString text;

    static CommandLine parse(const QStringList& arguments);
};

} // namespace quill
