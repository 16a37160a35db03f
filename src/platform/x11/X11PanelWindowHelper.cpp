#include "X11PanelWindowHelper.h"

#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <xcb/shape.h>

namespace quill {

namespace {

constexpr uint32_t allDesktops = 0xFFFFFFFF;

} // namespace

X11PanelWindowHelper::X11PanelWindowHelper(xcb_connection_t* connection, Management management)
    : m_connection(connection)
    , m_compositorSelection(atom("_NET_WM_CM_S0"))
    , m_wmDesktop(atom("_NET_WM_DESKTOP"))
    , m_management(management) {
    const xcb_query_extension_reply_t* shape =
        m_connection ? xcb_get_extension_data(m_connection, &xcb_shape_id) : nullptr;
    m_hasShape = shape && shape->present;
}

xcb_atom_t X11PanelWindowHelper::atom(const char* name) const {
    if (!m_connection || xcb_connection_has_error(m_connection))
        return XCB_ATOM_NONE;
    const auto cookie = xcb_intern_atom(m_connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_connection, cookie, nullptr);
    const xcb_atom_t result = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

bool X11PanelWindowHelper::compositorActive() const {
    if (m_compositorSelection == XCB_ATOM_NONE)
        return false;
    const auto cookie = xcb_get_selection_owner(m_connection, m_compositorSelection);
    xcb_get_selection_owner_reply_t* reply = xcb_get_selection_owner_reply(m_connection, cookie, nullptr);
    const bool owned = reply && reply->owner != XCB_NONE;
    std::free(reply);
    return owned;
}

void X11PanelWindowHelper::showOnAllDesktops(QWindow* window) {
    if (!window)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    if (m_management == Management::unmanaged) {
        // Read when the window is next mapped; an unmanaged window is on every desktop anyway.
        const uint32_t overrideRedirect = 1;
        xcb_change_window_attributes(m_connection, id, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        xcb_flush(m_connection);
        return;
    }
    if (m_wmDesktop == XCB_ATOM_NONE)
        return;
    // Before mapping the property is read by the window manager; while mapped it only
    // listens to requests sent to the root window.
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, id, m_wmDesktop, XCB_ATOM_CARDINAL, 32, 1,
                        &allDesktops);
    if (window->isVisible()) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = m_wmDesktop;
        event.data.data32[0] = allDesktops;
        event.data.data32[1] = 2; // sent on behalf of a pager-like tool, not the user
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, id), nullptr);
        const xcb_window_t root = geometry ? geometry->root : static_cast<xcb_window_t>(XCB_NONE);
        std::free(geometry);
        xcb_send_event(m_connection, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(m_connection);
}

void X11PanelWindowHelper::setInputRegion(QWindow* window, const QRegion& region) {
    if (!window || !m_hasShape)
        return;
    std::vector<xcb_rectangle_t> rectangles;
    for (const QRect& r : region) {
        rectangles.push_back({static_cast<int16_t>(r.x()), static_cast<int16_t>(r.y()),
                              static_cast<uint16_t>(r.width()), static_cast<uint16_t>(r.height())});
    }
    const qreal ratio = window->devicePixelRatio();
    if (ratio != 1.0) {
        for (auto& r : rectangles) {
            r = {static_cast<int16_t>(r.x * ratio), static_cast<int16_t>(r.y * ratio),
                 static_cast<uint16_t>(r.width * ratio), static_cast<uint16_t>(r.height * ratio)};
        }
    }
    xcb_shape_rectangles(m_connection, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_INPUT, XCB_CLIP_ORDERING_UNSORTED,
                         static_cast<xcb_window_t>(window->winId()), 0, 0,
                         static_cast<uint32_t>(rectangles.size()), rectangles.data());
    xcb_flush(m_connection);
}

} // namespace quill
