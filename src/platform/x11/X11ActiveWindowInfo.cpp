#include "X11ActiveWindowInfo.h"

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace quill {

struct X11ActiveWindowInfo::Connection {
    Connection() : xcb(xcb_connect(nullptr, &screenNumber)) {
        if (xcb_connection_has_error(xcb))
            return;
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(xcb));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        if (screens.rem)
            root = screens.data->root;
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
            xcb, xcb_intern_atom(xcb, 0, sizeof("_NET_ACTIVE_WINDOW") - 1, "_NET_ACTIVE_WINDOW"), nullptr);
        if (reply) {
            activeWindowAtom = reply->atom;
            free(reply);
        }
    }
    ~Connection() { xcb_disconnect(xcb); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    QByteArray property(xcb_window_t window, xcb_atom_t atom, xcb_atom_t type) {
        xcb_get_property_reply_t* reply =
            xcb_get_property_reply(xcb, xcb_get_property(xcb, 0, window, atom, type, 0, 1024), nullptr);
        if (!reply)
            return {};
        QByteArray value(static_cast<const char*>(xcb_get_property_value(reply)),
                         xcb_get_property_value_length(reply));
        free(reply);
        return value;
    }

    xcb_window_t activeWindow() {
        if (root == XCB_NONE || activeWindowAtom == XCB_NONE)
            return XCB_NONE;
        const QByteArray active = property(root, activeWindowAtom, XCB_ATOM_WINDOW);
        if (active.size() < static_cast<qsizetype>(sizeof(xcb_window_t)))
            return XCB_NONE;
        xcb_window_t window;
        memcpy(&window, active.constData(), sizeof window);
        return window;
    }

    xcb_window_t parent(xcb_window_t window) {
        xcb_query_tree_reply_t* reply = xcb_query_tree_reply(xcb, xcb_query_tree(xcb, window), nullptr);
        if (!reply)
            return XCB_NONE;
        const xcb_window_t parent = reply->parent;
        free(reply);
        return parent;
    }

    int screenNumber = 0;
    xcb_connection_t* xcb;
    xcb_window_t root = XCB_NONE;
    xcb_atom_t activeWindowAtom = XCB_NONE;
};

X11ActiveWindowInfo::X11ActiveWindowInfo() : m_connection(std::make_unique<Connection>()) {}

X11ActiveWindowInfo::~X11ActiveWindowInfo() = default;

QStringList X11ActiveWindowInfo::applicationNames() {
    Connection& c = *m_connection;
    const xcb_window_t window = c.activeWindow();
    if (window == XCB_NONE)
        return {};
    QStringList names;
    for (const QByteArray& part : c.property(window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING).split('\0')) {
        if (!part.isEmpty())
            names << QString::fromLocal8Bit(part);
    }
    return names;
}

bool X11ActiveWindowInfo::holdsPrimarySelection() {
    Connection& c = *m_connection;
    const xcb_window_t active = c.activeWindow();
    if (active == XCB_NONE)
        return false;
    xcb_get_selection_owner_reply_t* reply =
        xcb_get_selection_owner_reply(c.xcb, xcb_get_selection_owner(c.xcb, XCB_ATOM_PRIMARY), nullptr);
    if (!reply)
        return false;
    xcb_window_t window = reply->owner;
    free(reply);
    // Toolkits often own the selection with a window inside the top-level one (xterm's text
    // area, a hidden helper): walk up to the root. The depth bound keeps a broken tree finite.
    for (int depth = 0; depth < 64 && window != XCB_NONE && window != c.root; ++depth) {
        if (window == active)
            return true;
        window = c.parent(window);
    }
    return false;
}

} // namespace quill
