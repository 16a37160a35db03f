#include "X11KeyboardLayout.h"

#include "platform/PhysicalKeys.h"

#include <QChar>
#include <memory>
#include <xkbcommon/xkbcommon-x11.h>

namespace quill {
namespace {

struct KeymapDeleter {
    void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

xkb_keysym_t keysymAt(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout,
                      xkb_level_index_t level) {
    const xkb_keysym_t* syms = nullptr;
    return xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) == 1 ? syms[0]
                                                                                    : XKB_KEY_NoSymbol;
}

// The printable character a keysym types, upper case; empty for dead keys, space and the like.
QString printable(xkb_keysym_t keysym) {
    const char32_t ucs = xkb_keysym_to_utf32(xkb_keysym_to_upper(keysym));
    if (ucs == 0 || !QChar::isPrint(ucs) || QChar::isSpace(ucs))
        return {};
    return QString::fromUcs4(&ucs, 1);
}

bool isDigit(const QString& label) {
    return label.size() == 1 && label.front().isDigit();
}

} // namespace

X11KeyboardLayout::X11KeyboardLayout(xcb_connection_t* connection)
    : m_connection(connection)
    , m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    if (m_context && xkb_x11_setup_xkb_extension(
                         m_connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr))
        m_deviceId = xkb_x11_get_core_keyboard_device_id(m_connection);
}

X11KeyboardLayout::~X11KeyboardLayout() {
    xkb_context_unref(m_context);
}

QString X11KeyboardLayout::keyLabel(Qt::Key physicalKey) {
    const quint32 keycode = scanCodeForPhysicalKey(physicalKey);
    if (m_deviceId < 0 || keycode == 0)
        return {};
    const std::unique_ptr<xkb_keymap, KeymapDeleter> keymap(
        xkb_x11_keymap_new_from_device(m_context, m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap)
        return {};
    const std::unique_ptr<xkb_state, StateDeleter> state(
        xkb_x11_state_new_from_device(keymap.get(), m_connection, m_deviceId));
    if (!state)
        return {};
    const xkb_layout_index_t layout = xkb_state_key_get_layout(state.get(), keycode);
    const QString base = printable(keysymAt(keymap.get(), keycode, layout, 0));
    // The digit row of AZERTY layouts types symbols and gives the digit with Shift; the digit is
    // what the cap shows and what people call the key.
    const QString shifted = printable(keysymAt(keymap.get(), keycode, layout, 1));
    if (!isDigit(base) && isDigit(shifted) && !(base.size() == 1 && base.front().isLetter()))
        return shifted;
    return base;
}

} // namespace quill
