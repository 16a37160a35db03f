#include "XTestKeyEventPoster.h"

#include "X11Keys.h"

#include <X11/keysym.h>
#include <algorithm>
#include <cstdlib>
#include <set>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace quill {

struct XTestKeyEventPoster::Connection {
    Connection() : xcb(xcb_connect(nullptr, &screenNumber)) {
        if (xcb_connection_has_error(xcb))
            return;
        const xcb_query_extension_reply_t* extension = xcb_get_extension_data(xcb, &xcb_test_id);
        hasXTest = extension && extension->present;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (screens.rem)
            root = screens.data->root;
    }
    ~Connection() { xcb_disconnect(xcb); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int screenNumber = 0;
    xcb_connection_t* xcb;
    bool hasXTest = false;
    xcb_window_t root = XCB_NONE;
};

XTestKeyEventPoster::XTestKeyEventPoster() : m_connection(std::make_unique<Connection>()) {}

XTestKeyEventPoster::~XTestKeyEventPoster() = default;

bool XTestKeyEventPoster::isAvailable() const {
    return m_connection->hasXTest && m_connection->root != XCB_NONE;
}

Qt::KeyboardModifiers XTestKeyEventPoster::heldModifiers() {
    if (!isAvailable())
        return {};
    xcb_query_pointer_reply_t* reply = xcb_query_pointer_reply(
        m_connection->xcb, xcb_query_pointer(m_connection->xcb, m_connection->root), nullptr);
    if (!reply)
        return {};
    const uint16_t mask = reply->mask;
    free(reply);
    // Lock and Mod2 (Num Lock) are locks, not keys held down.
    Qt::KeyboardModifiers held;
    if (mask & XCB_MOD_MASK_SHIFT)
        held |= Qt::ShiftModifier;
    if (mask & XCB_MOD_MASK_CONTROL)
        held |= Qt::ControlModifier;
    if (mask & XCB_MOD_MASK_1)
        held |= Qt::AltModifier;
    if (mask & XCB_MOD_MASK_4)
        held |= Qt::MetaModifier;
    if (mask & (XCB_MOD_MASK_3 | XCB_MOD_MASK_5))
        held |= Qt::GroupSwitchModifier;
    return held;
}

bool XTestKeyEventPoster::isKeyHeld() {
    if (!isAvailable())
        return false;
    xcb_connection_t* xcb = m_connection->xcb;
    xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(xcb, xcb_query_keymap(xcb), nullptr);
    if (!keymap)
        return false;
    xcb_get_modifier_mapping_reply_t* modifiers =
        xcb_get_modifier_mapping_reply(xcb, xcb_get_modifier_mapping(xcb), nullptr);
    std::set<xcb_keycode_t> modifierKeys;
    if (modifiers) {
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modifiers);
        const int count = xcb_get_modifier_mapping_keycodes_length(modifiers);
        modifierKeys.insert(codes, codes + count);
        free(modifiers);
    }
    bool held = false;
    for (int code = 8; code < 256 && !held; ++code) {
        const bool down = keymap->keys[code / 8] & (1 << (code % 8));
        held = down && !modifierKeys.contains(static_cast<xcb_keycode_t>(code));
    }
    free(keymap);
    return held;
}

void XTestKeyEventPoster::postKey(Qt::Key qtKey, Qt::KeyboardModifiers modifiers) {
    const uint32_t keysym = x11::keysymForKey(qtKey);
    if (!isAvailable() || keysym == 0)
        return;
    xcb_connection_t* xcb = m_connection->xcb;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(xcb);
    if (!symbols)
        return;
    auto keycodeOf = [symbols](uint32_t sym) -> xcb_keycode_t {
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, sym);
        if (!codes)
            return 0;
        const xcb_keycode_t first = codes[0];
        free(codes);
        return first == XCB_NO_SYMBOL ? 0 : first;
    };
    std::vector<xcb_keycode_t> held;
    const std::pair<Qt::KeyboardModifier, uint32_t> modifierKeys[] = {
        {Qt::ControlModifier, XK_Control_L}, {Qt::ShiftModifier, XK_Shift_L}, {Qt::AltModifier, XK_Alt_L}};
    for (const auto& [modifier, sym] : modifierKeys) {
        if (modifiers & modifier)
            held.push_back(keycodeOf(sym));
    }
    const xcb_keycode_t key = keycodeOf(keysym);
    xcb_key_symbols_free(symbols);
    if (key == 0 || std::find(held.begin(), held.end(), 0) != held.end())
        return;
    auto fake = [xcb](uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(xcb, type, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    };
    for (xcb_keycode_t code : held)
        fake(XCB_KEY_PRESS, code);
    fake(XCB_KEY_PRESS, key);
    fake(XCB_KEY_RELEASE, key);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        fake(XCB_KEY_RELEASE, *it);
    xcb_flush(xcb);
}

} // namespace quill
