#pragma once

#include "Shortcut.h"

#include <QKeySequence>
#include <QString>
#include <Qt>
#include <optional>

namespace quill {

// One row of the single table that ties a stored key code to the Qt key of the same key.
struct KeyCodeInfo {
    uint32_t keyCode;
    Qt::Key qtKey;
};

std::optional<KeyCodeInfo> keyCodeInfo(uint32_t keyCode);
// The stored key code of a Qt key, for the recorder; none for keys that cannot be stored.
std::optional<uint32_t> keyCodeForQtKey(int qtKey);

// The key's name in the desktop's words ("1", "K", "F5", "Space", "Esc", ...), "?" when unnamed.
QString keyName(uint32_t keyCode);
// Modifiers as "Ctrl+", "Alt+", "Shift+", "Super+" in that order, then `keyLabel`, or the key
// name when it is empty. ShortcutNames supplies the label of the layout in use.
QString displayString(const Shortcut& shortcut, const QString& keyLabel = {});

Qt::KeyboardModifiers qtModifiers(uint32_t modifiers);
uint32_t modifiersFromQt(Qt::KeyboardModifiers modifiers);
// The sequence shown beside menu items; empty when the key has no Qt equivalent.
QKeySequence keySequence(const Shortcut& shortcut);

} // namespace quill
