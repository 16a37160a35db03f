#include "X11TestClient.h"

#include <cstdlib>
#include <utility>
#include <xcb/xtest.h>

namespace quill::test {

X11TestClient::X11TestClient() : m_connection(xcb_connect(nullptr, nullptr)) {
    if (!xcb_connection_has_error(m_connection))
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
}

X11TestClient::~X11TestClient() {
    xcb_disconnect(m_connection);
}

bool X11TestClient::grab(uint16_t modifiers, xcb_keycode_t keycode) {
    const auto cookie = xcb_grab_key_checked(m_connection, 0, m_root, modifiers, keycode, XCB_GRAB_MODE_ASYNC,
                                             XCB_GRAB_MODE_ASYNC);
    xcb_generic_error_t* error = xcb_request_check(m_connection, cookie);
    std::free(error);
    return !error && !xcb_connection_has_error(m_connection);
}

bool X11TestClient::pressWithControl(xcb_keycode_t keycode) {
    constexpr xcb_keycode_t leftControl = 37;
    for (const auto& [type, code] :
         {std::pair{XCB_KEY_PRESS, leftControl}, std::pair{XCB_KEY_PRESS, keycode},
          std::pair{XCB_KEY_RELEASE, keycode}, std::pair{XCB_KEY_RELEASE, leftControl}})
        xcb_test_fake_input(m_connection, uint8_t(type), code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    // A round trip: the server has taken every fake event when its answer arrives.
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    return !xcb_connection_has_error(m_connection);
}

} // namespace quill::test
