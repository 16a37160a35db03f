#include "Shortcut.h"

namespace quill {

QString rawValue(ShortcutAction action) {
    switch (action) {
    case ShortcutAction::explainSelection:
        return QStringLiteral("explainSelection");
    case ShortcutAction::transcribeOnly:
        return QStringLiteral("transcribeOnly");
    case ShortcutAction::cancelTranscription:
        return QStringLiteral("cancelTranscription");
    }
    return {};
}

std::optional<ShortcutAction> shortcutActionFromRawValue(const QString& raw) {
    for (ShortcutAction action : allShortcutActions) {
        if (rawValue(action) == raw)
            return action;
    }
    return std::nullopt;
}

Shortcut defaultShortcut(ShortcutAction action) {
    switch (action) {
    case ShortcutAction::explainSelection:
        return {18, modifier::ctrl};
    case ShortcutAction::transcribeOnly:
        return {19, modifier::ctrl};
    case ShortcutAction::cancelTranscription:
        return {53, 0};
    }
    return {};
}

} // namespace quill
