#include "ActionStore.h"

#include "ActionList.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <variant>

namespace quill {
namespace {

// A file this large is not a list of prompts.
constexpr qint64 maxFileBytes = qint64{1024} * 1024;

} // namespace

ActionStore::ActionStore(QString path, const ShortcutNames& names, QObject* parent)
    : QObject(parent)
    , m_path(std::move(path))
    , m_names(names) {
    // Editors save by writing a new file and renaming it over the old one, which a watch on the
    // file alone does not survive; the directory's watch sees the new file arrive.
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, &ActionStore::reload);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &ActionStore::reload);
    reload();
}

QString ActionStore::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Quillpoint/actions.json");
}

std::optional<UserAction> ActionStore::find(const QString& id) const {
    for (const UserAction& action : m_actions) {
        if (action.id == id)
            return action;
    }
    return std::nullopt;
}

std::optional<QString> ActionStore::runProblem(const QString& id) const {
    const std::optional<UserAction> action = find(id);
    if (action && action->enabled)
        return std::nullopt;
    constexpr qsizetype echoed = 64;
    const QString shown = id.size() > echoed ? id.left(echoed) + u'…' : id;
    if (action)
        return QStringLiteral("The action \"%1\" is turned off; turn it on in Preferences, Actions")
            .arg(shown);
    return QStringLiteral("Unknown action \"%1\"; the actions are listed in %2").arg(shown, m_path);
}

void ActionStore::reload() {
    watch();
    UserActionList actions = ActionList::builtIns();
    std::optional<QString> problem;
    QFile file(m_path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            problem = tr("%1 cannot be read: %2").arg(m_path, file.errorString());
        } else if (file.size() > maxFileBytes) {
            problem = tr("%1 is larger than 1 MiB").arg(m_path);
        } else {
            ActionList::Parsed parsed = ActionList::parse(file.readAll(), m_names);
            if (auto* list = std::get_if<UserActionList>(&parsed))
                actions = std::move(*list);
            else
                problem = tr("%1 is not valid, so the built-in actions are used: %2")
                              .arg(m_path, std::get<QString>(parsed));
        }
    }
    if (actions == m_actions && problem == m_problem)
        return;
    if (problem && problem != m_problem)
        logLine(lcApp(), QStringLiteral("ActionStore"), *problem);
    m_actions = std::move(actions);
    m_problem = std::move(problem);
    emit changed();
}

std::optional<QString> ActionStore::save(const UserActionList& actions) {
    reload();
    if (m_problem)
        return tr("The actions are not saved, so as not to overwrite the file. %1").arg(*m_problem);
    UserActionList checked;
    for (const UserAction& action : actions) {
        if (const auto problem = ActionList::problem(action, checked))
            return QStringLiteral("%1: %2").arg(action.name, *problem);
        checked.append(action);
    }
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ActionList::serialize(actions, m_names)) < 0 ||
        !file.commit())
        return tr("%1 cannot be written: %2").arg(m_path, file.errorString());
    reload();
    return std::nullopt;
}

void ActionStore::watch() {
    const QString directory = QFileInfo(m_path).absolutePath();
    if (QFileInfo::exists(directory) && !m_watcher.directories().contains(directory))
        m_watcher.addPath(directory);
    if (QFileInfo::exists(m_path) && !m_watcher.files().contains(m_path))
        m_watcher.addPath(m_path);
}

} // namespace quill
