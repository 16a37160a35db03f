#pragma once

#include "platform/PanelWindowHelper.h"

#include <xcb/xcb.h>

namespace quill {

class X11PanelWindowHelper final : public PanelWindowHelper {
public:
    // `unmanaged` keeps the window away from the window manager (override-redirect), for
    // window managers that give every window they manage the focus, such as sway's XWayland.
    enum class Management { managed, unmanaged };

    explicit X11PanelWindowHelper(xcb_connection_t* connection, Management management = Management::managed);

    bool compositorActive() const override;
    void showOnAllDesktops(QWindow* window) override;
    void setInputRegion(QWindow* window, const QRegion& region) override;

private:
    xcb_atom_t atom(const char* name) const;

    xcb_connection_t* m_connection;
    xcb_atom_t m_compositorSelection;
    xcb_atom_t m_wmDesktop;
    bool m_hasShape;
    Management m_management;
};

} // namespace quill
