#pragma once

#include "shortcuts/Shortcut.h"

#include <QList>
#include <QString>
#include <optional>

namespace quill {

// What happens with the answer to an action: shown in the panel, pasted over the selection once
// complete, or put on the clipboard.
enum class ActionResult { panel, replace, copy };

// One of the user's own prompts: what to do with the selected text, on an optional shortcut.
struct UserAction {
    QString id;
    QString name;
    QString instruction;
    std::optional<Shortcut> shortcut;
    ActionResult result = ActionResult::panel;
    bool enabled = false;

    friend bool operator==(const UserAction&, const UserAction&) = default;
};

using UserActionList = QList<UserAction>;

} // namespace quill
