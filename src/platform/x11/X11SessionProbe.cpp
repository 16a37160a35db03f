#include "X11SessionProbe.h"

#include "X11Keys.h"

#include <cstdlib>
#include <memory>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

namespace quill::x11 {
namespace {

struct Connection {
    explicit Connection(const char* display) : xcb(xcb_connect(display, &screenNumber)) {}
    ~Connection() { xcb_disconnect(xcb); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    bool ok() const { return xcb && !xcb_connection_has_error(xcb); }

    int screenNumber = 0;
    xcb_connection_t* xcb;
};

xcb_screen_t* screenOf(const Connection& connection) {
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.xcb));
    for (int i = 0; i < connection.screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    return screens.rem ? screens.data : nullptr;
}

bool selectionOwned(xcb_connection_t* xcb, const QByteArray& name) {
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(
            xcb, xcb_intern_atom(xcb, 1, static_cast<uint16_t>(name.size()), name.constData()), nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    std::unique_ptr<xcb_get_selection_owner_reply_t, decltype(&std::free)> owner(
        xcb_get_selection_owner_reply(xcb, xcb_get_selection_owner(xcb, atom->atom), nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}

KeyGrabber::GrabResult tryGrab(xcb_connection_t* xcb, xcb_key_symbols_t* symbols, xcb_window_t root,
                               const KeyCombination& combination) {
    const uint32_t keysym = keysymForKey(combination.key);
    std::vector<xcb_keycode_t> keycodes;
    if (xcb_keycode_t* list = keysym ? xcb_key_symbols_get_keycode(symbols, keysym) : nullptr) {
        for (const xcb_keycode_t* code = list; *code != XCB_NO_SYMBOL; ++code)
            keycodes.push_back(*code);
        std::free(list);
    }
    if (keycodes.empty())
        return KeyGrabber::GrabResult::noSuchKey;
    const uint16_t mask = modifierMaskFor(combination.modifiers);
    bool taken = false;
    std::vector<xcb_keycode_t> held;
    for (xcb_keycode_t keycode : keycodes) {
        xcb_generic_error_t* error = xcb_request_check(
            xcb, xcb_grab_key_checked(xcb, 0, root, mask, keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        if (error) {
            taken = true;
            std::free(error);
        } else {
            held.push_back(keycode);
        }
    }
    for (xcb_keycode_t keycode : held)
        xcb_ungrab_key(xcb, keycode, root, mask);
    xcb_flush(xcb);
    return taken ? KeyGrabber::GrabResult::taken : KeyGrabber::GrabResult::grabbed;
}

} // namespace

bool canConnect(const QByteArray& display) {
    if (display.isEmpty())
        return false;
    const Connection connection(display.constData());
    return connection.ok();
}

X11Facts probe(const QList<KeyCombination>& shortcuts) {
    X11Facts facts;
    facts.answered = true;
    const Connection connection(nullptr);
    xcb_screen_t* screen = connection.ok() ? screenOf(connection) : nullptr;
    if (!screen)
        return facts;
    facts.connected = true;
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(connection.xcb, &xcb_test_id);
    facts.xtest = xtest && xtest->present;
    facts.xembedTray = selectionOwned(connection.xcb, QByteArrayLiteral("_NET_SYSTEM_TRAY_S") +
                                                          QByteArray::number(connection.screenNumber));
    facts.clipboardOwned = selectionOwned(connection.xcb, QByteArrayLiteral("CLIPBOARD"));
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection.xcb);
    for (const KeyCombination& combination : shortcuts)
        facts.grabs.append({combination, tryGrab(connection.xcb, symbols, screen->root, combination)});
    xcb_key_symbols_free(symbols);
    return facts;
}

} // namespace quill::x11
