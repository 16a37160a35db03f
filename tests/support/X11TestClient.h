#pragma once

#include <xcb/xcb.h>

namespace quill::test {

// Another X client on the test desktop, with a connection of its own: it holds key combinations
// before the program does and types through XTEST.
class X11TestClient {
public:
    X11TestClient();
    ~X11TestClient();
    X11TestClient(const X11TestClient&) = delete;
    X11TestClient& operator=(const X11TestClient&) = delete;

    // Grabs the key on the root window; false when another client holds it already.
    bool grab(uint16_t modifiers, xcb_keycode_t keycode);
    // Presses and releases Ctrl with the key `keycode` through XTEST, whatever it types.
    bool pressWithControl(xcb_keycode_t keycode);

private:
    xcb_connection_t* m_connection;
    xcb_window_t m_root = XCB_NONE;
};

} // namespace quill::test
