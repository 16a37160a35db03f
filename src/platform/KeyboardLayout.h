#pragma once

#include <QString>
#include <Qt>

namespace quill {

// What the keys type on the keyboard layout in use, for naming them to the user. Shortcuts are
// kept by the key's place (PhysicalKeys.h); the layout decides what its cap says.
class KeyboardLayout {
public:
    virtual ~KeyboardLayout() = default;
    // The label of the physical key on the current layout: the letter or digit it types, upper
    // case, or the character it types without Shift; empty when it types nothing printable (or
    // the layout is unknown), and the caller falls back to the key's US name.
    virtual QString keyLabel(Qt::Key physicalKey) = 0;
};

} // namespace quill
