#include "ShortcutNames.h"

#include "KeyCodes.h"
#include "platform/KeyboardLayout.h"

namespace quill {

ShortcutNames::ShortcutNames(KeyboardLayout& layout) : m_layout(layout) {}

QString ShortcutNames::text(const Shortcut& shortcut) const {
    const auto info = keyCodeInfo(shortcut.keyCode);
    return displayString(shortcut, info ? m_layout.keyLabel(info->qtKey) : QString());
}

QKeySequence ShortcutNames::keySequence(const Shortcut& shortcut) const {
    const auto info = keyCodeInfo(shortcut.keyCode);
    if (!info)
        return {};
    // Qt names a key of one character by that character's upper-case code point.
    const QString label = m_layout.keyLabel(info->qtKey);
    const auto key = label.size() == 1 ? Qt::Key(label.front().toUpper().unicode()) : info->qtKey;
    return QKeySequence(QKeyCombination(qtModifiers(shortcut.modifiers), key));
}

} // namespace quill
