#include "X11Keys.h"

#include <array>
#include <utility>

namespace quill::x11 {

uint32_t keysymForKey(Qt::Key key) {
    // Letters are named by their upper case in Qt and typed as lower case on X; digits, space
    // and ASCII punctuation share their code with the Latin-1 keysym.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return uint32_t(key) - Qt::Key_A + 0x61;
    if (key >= Qt::Key_Space && key <= Qt::Key_QuoteLeft)
        return uint32_t(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return uint32_t(key) - Qt::Key_F1 + 0xffbe;
    static constexpr std::array<std::pair<Qt::Key, uint32_t>, 12> special = {{
        {Qt::Key_Return, 0xff0d},
        {Qt::Key_Tab, 0xff09},
        {Qt::Key_Backspace, 0xff08},
        {Qt::Key_Escape, 0xff1b},
        {Qt::Key_Delete, 0xffff},
        {Qt::Key_Insert, 0xff63},
        {Qt::Key_Home, 0xff50},
        {Qt::Key_End, 0xff57},
        {Qt::Key_Left, 0xff51},
        {Qt::Key_Up, 0xff52},
        {Qt::Key_Right, 0xff53},
        {Qt::Key_Down, 0xff54},
    }};
    for (const auto& [qtKey, keysym] : special) {
        if (qtKey == key)
            return keysym;
    }
    return 0;
}

uint16_t modifierMaskFor(Qt::KeyboardModifiers modifiers) {
    uint16_t mask = 0;
    if (modifiers & Qt::ControlModifier)
        mask |= modifierMask::control;
    if (modifiers & Qt::ShiftModifier)
        mask |= modifierMask::shift;
    if (modifiers & Qt::AltModifier)
        mask |= modifierMask::mod1;
    if (modifiers & Qt::MetaModifier)
        mask |= modifierMask::mod4;
    return mask;
}

} // namespace quill::x11
