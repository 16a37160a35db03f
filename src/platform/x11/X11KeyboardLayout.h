#pragma once

#include "platform/KeyboardLayout.h"

#include <xcb/xcb.h>

struct xkb_context;

namespace quill {

// Reads the X server's current keymap and layout group at each call, so a layout switched a
// moment ago names the keys already; naming is rare (menus, the preferences, messages).
class X11KeyboardLayout final : public KeyboardLayout {
public:
    explicit X11KeyboardLayout(xcb_connection_t* connection);
    ~X11KeyboardLayout() override;
    X11KeyboardLayout(const X11KeyboardLayout&) = delete;
    X11KeyboardLayout& operator=(const X11KeyboardLayout&) = delete;

    QString keyLabel(Qt::Key physicalKey) override;

private:
    xcb_connection_t* m_connection;
    xkb_context* m_context = nullptr;
    int32_t m_deviceId = -1;
};

} // namespace quill
