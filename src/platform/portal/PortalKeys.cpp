#include "PortalKeys.h"

#include <array>
#include <utility>
#include <xkbcommon/xkbcommon.h>

namespace quill::portal {

uint32_t keysymForKey(Qt::Key key) {
    // Letters are named by their upper case in Qt and typed as lower case; digits, space and
    // ASCII punctuation share their code with the Latin-1 keysym.
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return uint32_t(key) - Qt::Key_A + XKB_KEY_a;
    if (key >= Qt::Key_Space && key <= Qt::Key_QuoteLeft)
        return uint32_t(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F35)
        return uint32_t(key) - Qt::Key_F1 + XKB_KEY_F1;
    static constexpr std::array<std::pair<Qt::Key, uint32_t>, 14> special = {{
        {Qt::Key_Return, XKB_KEY_Return},
        {Qt::Key_Tab, XKB_KEY_Tab},
        {Qt::Key_Backspace, XKB_KEY_BackSpace},
        {Qt::Key_Escape, XKB_KEY_Escape},
        {Qt::Key_Delete, XKB_KEY_Delete},
        {Qt::Key_Insert, XKB_KEY_Insert},
        {Qt::Key_Home, XKB_KEY_Home},
        {Qt::Key_End, XKB_KEY_End},
        {Qt::Key_PageUp, XKB_KEY_Prior},
        {Qt::Key_PageDown, XKB_KEY_Next},
        {Qt::Key_Left, XKB_KEY_Left},
        {Qt::Key_Up, XKB_KEY_Up},
        {Qt::Key_Right, XKB_KEY_Right},
        {Qt::Key_Down, XKB_KEY_Down},
    }};
    for (const auto& [qtKey, keysym] : special) {
        if (qtKey == key)
            return keysym;
    }
    return 0;
}

QString triggerFor(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    const uint32_t keysym = keysymForKey(key);
    if (keysym == 0)
        return {};
    std::array<char, 64> name{};
    if (xkb_keysym_get_name(keysym, name.data(), name.size()) <= 0)
        return {};
    QString trigger;
    if (modifiers & Qt::ControlModifier)
        trigger += QStringLiteral("CTRL+");
    if (modifiers & Qt::AltModifier)
        trigger += QStringLiteral("ALT+");
    if (modifiers & Qt::ShiftModifier)
        trigger += QStringLiteral("SHIFT+");
    if (modifiers & Qt::MetaModifier)
        trigger += QStringLiteral("LOGO+");
    return trigger + QString::fromLatin1(name.data());
}

} // namespace quill::portal
