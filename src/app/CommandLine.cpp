#include "CommandLine.h"

#include <QCommandLineParser>
#include <array>
#include <utility>

namespace quill {
namespace {

constexpr std::array<std::pair<RemoteAction, const char*>, 7> actionNames{{
    {RemoteAction::explain, "explain"},
    {RemoteAction::transcribe, "transcribe"},
    {RemoteAction::cancel, "cancel"},
    {RemoteAction::preferences, "preferences"},
    {RemoteAction::history, "history"},
    {RemoteAction::quit, "quit"},
    {RemoteAction::action, "action"},
}};

} // namespace

std::optional<RemoteAction> remoteActionNamed(const QString& name) {
    for (const auto& [action, actionName] : actionNames) {
        if (name == QLatin1String(actionName))
            return action;
    }
    return std::nullopt;
}

QString remoteActionName(RemoteAction action) {
    for (const auto& [candidate, name] : actionNames) {
        if (candidate == action)
            return QString::fromLatin1(name);
    }
    return {};
}

CommandLine CommandLine::parse(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Explains the selected text and transcribes speech into the application in front.\n"
                       "With an action, asks the running Quillpoint to perform it (starting Quillpoint "
                       "first when none runs)."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption explain(
        QStringLiteral("explain"), QStringLiteral("Explain the text selected in the application in front."));
    const QCommandLineOption transcribe(
        QStringLiteral("transcribe"),
        QStringLiteral("Start a recording, or stop the running one and paste its transcript."));
    const QCommandLineOption cancel(QStringLiteral("cancel"),
                                    QStringLiteral("Discard the running recording."));
    const QCommandLineOption preferences(QStringLiteral("preferences"),
                                         QStringLiteral("Open the preferences window."));
    const QCommandLineOption history(
        QStringLiteral("history"),
        QStringLiteral("Open the History window: the kept explanations and transcripts."));
    const QCommandLineOption quit(QStringLiteral("quit"), QStringLiteral("Quit the running Quillpoint."));
    const QCommandLineOption userAction(
        QStringLiteral("action"),
        QStringLiteral("Run your action <id> (see ~/.config/Quillpoint/actions.json) on the selected text."),
        QStringLiteral("id"));
    const QCommandLineOption diagnose(
        QStringLiteral("diagnose"),
        QStringLiteral("Check what this session offers Quillpoint, print one line per item and exit "
                       "(status 0 when Explain and Transcribe can both work)."));
    parser.addOptions(
        {help, version, explain, transcribe, cancel, preferences, history, quit, userAction, diagnose});

    CommandLine result;
    if (!parser.parse(arguments)) {
        result.mode = Mode::error;
        result.text = QStringLiteral("quillpoint: %1\nTry 'quillpoint --help' for the options.")
                          .arg(parser.errorText());
        return result;
    }
    if (!parser.positionalArguments().isEmpty()) {
        result.mode = Mode::error;
        result.text = QStringLiteral("quillpoint: unexpected argument '%1'.\nTry 'quillpoint --help' for the "
                                     "options.")
                          .arg(parser.positionalArguments().constFirst());
        return result;
    }
    if (parser.isSet(help)) {
        result.mode = Mode::help;
        result.text =
            parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("quillpoint"));
        return result;
    }
    if (parser.isSet(version)) {
        result.mode = Mode::version;
        result.text = QStringLiteral("Quillpoint " QUILLPOINT_VERSION "\n");
        return result;
    }

    const std::array<std::pair<const QCommandLineOption*, RemoteAction>, 7> actions{{
        {&explain, RemoteAction::explain},
        {&transcribe, RemoteAction::transcribe},
        {&cancel, RemoteAction::cancel},
        {&preferences, RemoteAction::preferences},
        {&history, RemoteAction::history},
        {&quit, RemoteAction::quit},
        {&userAction, RemoteAction::action},
    }};
    QStringList chosen;
    for (const auto& [option, action] : actions) {
        if (parser.isSet(*option)) {
            result.action = action;
            chosen << QStringLiteral("--") + option->names().constFirst();
        }
    }
    if (parser.isSet(diagnose))
        chosen << QStringLiteral("--diagnose");
    if (chosen.size() > 1) {
        result.mode = Mode::error;
        result.action.reset();
        result.text = QStringLiteral("quillpoint: %1 cannot be combined; give one of them.\nTry 'quillpoint "
                                     "--help' for the options.")
                          .arg(chosen.join(QStringLiteral(", ")));
        return result;
    }
    if (parser.isSet(diagnose))
        result.mode = Mode::diagnose;
    if (parser.isSet(userAction))
        result.actionId = parser.value(userAction);
    return result;
}

} // namespace quill
