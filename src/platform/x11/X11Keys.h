#pragma once

#include <Qt>
#include <cstdint>

// Translation between Qt's names for keys and modifiers and the X server's keysyms and core
// modifier masks. Nothing outside this folder speaks in keysyms.
namespace quill::x11 {

namespace modifierMask {
inline constexpr uint16_t shift = 0x01;
inline constexpr uint16_t lock = 0x02;
inline constexpr uint16_t control = 0x04;
inline constexpr uint16_t mod1 = 0x08;
inline constexpr uint16_t mod4 = 0x40;
} // namespace modifierMask

// The keysym a key types without Shift: lower-case letters, the digits and punctuation of the
// key itself; 0 for a key this program never grabs or posts.
uint32_t keysymForKey(Qt::Key key);

// Ctrl, Shift, Alt (Mod1) and Meta (Mod4); other modifiers have no fixed place on X.
uint16_t modifierMaskFor(Qt::KeyboardModifiers modifiers);

} // namespace quill::x11
