#pragma once

#include <Qt>

// The keys a shortcut can use, by their place on the keyboard rather than by what they type.
// A physical key is named by the Qt key it types on a US layout: Qt::Key_Z is the key left of
// X even where the layout makes it type Y. Linux numbers the keys with their evdev code plus 8;
// X11 keycodes and QKeyEvent::nativeScanCode() on X11 and Wayland are that number.
namespace quill {

// Qt::Key_unknown for a key no shortcut can use (modifiers, keypad, media keys, ...).
Qt::Key physicalKeyForScanCode(quint32 scanCode);
// 0 for a key that is not a physical key of this table.
quint32 scanCodeForPhysicalKey(Qt::Key key);

} // namespace quill
