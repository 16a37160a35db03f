#pragma once

#include "UserAction.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <optional>

namespace quill {

class ShortcutNames;

// The user's actions in their file, kept in step with it: edits made in a text editor are picked
// up while the program runs. A file that cannot be read or is invalid is never written over: the
// built-in actions stand in for it and problem() says what is wrong and where, until the user
// mends or removes it. Main thread only.
class ActionStore : public QObject {
    Q_OBJECT
public:
    ActionStore(QString path, const ShortcutNames& names, QObject* parent = nullptr);

    // ~/.config/Quillpoint/actions.json, beside the other settings.
    static QString defaultPath();

    const UserActionList& actions() const { return m_actions; }
    std::optional<UserAction> find(const QString& id) const;
    // Why the action `id` cannot be run on request (unknown or turned off), none when it can;
    // the id is echoed only as far as a real one could go.
    std::optional<QString> runProblem(const QString& id) const;
    // The file's path and what is wrong with it; none while it is valid or absent.
    std::optional<QString> problem() const { return m_problem; }
    const QString& path() const { return m_path; }

    // Writes `actions` to the file and takes them on. Refused, with the reason, while the file
    // on disk has a problem or an action is invalid.
    std::optional<QString> save(const UserActionList& actions);

    // Reads the file again; emits changed() when the actions or the problem differ.
    void reload();

signals:
    void changed();

private:
    void watch();

    QString m_path;
    const ShortcutNames& m_names;
    UserActionList m_actions;
    std::optional<QString> m_problem;
    QFileSystemWatcher m_watcher;
};

} // namespace quill
