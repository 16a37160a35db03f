#pragma once

#include "Shortcut.h"

#include <QKeySequence>
#include <QString>

namespace quill {

class KeyboardLayout;

// Names shortcuts the way the keyboard in use labels its keys. Shortcuts are kept by the key's
// place, named as on a US layout; on a French layout the key right of Tab, kept as Q, types A
// and is shown as "A", while keys without a printable character keep their names ("F5", "Esc").
class ShortcutNames {
public:
    explicit ShortcutNames(KeyboardLayout& layout);

    // Modifiers as "Ctrl+", "Alt+", "Shift+", "Super+" in that order, then the key's label.
    QString text(const Shortcut& shortcut) const;
    // The same as a key sequence for menus; empty when the key has no Qt equivalent.
    QKeySequence keySequence(const Shortcut& shortcut) const;

private:
    KeyboardLayout& m_layout;
};

} // namespace quill
