#pragma once

#include "platform/KeyboardLayout.h"

#include <QAbstractNativeEventFilter>
#include <xcb/xcb.h>

struct xkb_context;
struct xkb_keymap;

namespace quill {

// Names keys from the X server's keymap, read once and again after the server announces a new
// one, and from the layout group in effect at each call, so a layout switched a moment ago names
// the keys already.
class X11KeyboardLayout final : public KeyboardLayout, private QAbstractNativeEventFilter {
public:
    explicit X11KeyboardLayout(xcb_connection_t* connection);
    ~X11KeyboardLayout() override;
    X11KeyboardLayout(const X11KeyboardLayout&) = delete;
    X11KeyboardLayout& operator=(const X11KeyboardLayout&) = delete;

    QString keyLabel(Qt::Key physicalKey) override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    xcb_connection_t* m_connection;
    xkb_context* m_context = nullptr;
    int32_t m_deviceId = -1;
    int m_xkbEventBase = -1;
    // Compiled on first use; dropped when the server's keymap changes.
    xkb_keymap* m_keymap = nullptr;
};

} // namespace quill
