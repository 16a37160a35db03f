#pragma once

#include "UserAction.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <variant>

namespace quill {

class ShortcutNames;

// The user's actions as the file holds them:
// {"actions": [{"id": "fix", "name": "…", "instruction": "…", "shortcut": "Ctrl+3",
//               "result": "replace", "enabled": true}]}
// Shortcuts are written as the tray menu names them (ShortcutNames), so that a user who edits
// the file writes what the menu shows.
class ActionList {
    Q_DECLARE_TR_FUNCTIONS(quill::ActionList)

public:
    // The backend takes no longer instruction; ids and names are kept short for menus and
    // command lines.
    static constexpr qsizetype maxInstructionLength = 2000;
    static constexpr qsizetype maxNameLength = 100;
    static constexpr qsizetype maxIdLength = 64;

    // The actions, or what is wrong and where ("actions[2].result: …").
    using Parsed = std::variant<UserActionList, QString>;
    static Parsed parse(const QByteArray& json, const ShortcutNames& names);
    static QByteArray serialize(const UserActionList& actions, const ShortcutNames& names);

    // The presets offered before the user has written any file of their own, all turned off.
    static UserActionList builtIns();

    // What is wrong with one action, none when it can be stored; `others` are the remaining
    // actions, against which ids and shortcuts must differ.
    static std::optional<QString> problem(const UserAction& action, const UserActionList& others);

    static std::optional<Shortcut> parseShortcut(const QString& text, const ShortcutNames& names);
    static QString resultName(ActionResult result);
};

} // namespace quill
