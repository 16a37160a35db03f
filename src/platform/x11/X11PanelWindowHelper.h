#pragma once

#include "platform/PanelWindowHelper.h"

#include <xcb/xcb.h>

namespace quill {

class X11PanelWindowHelper final : public PanelWindowHelper {
public:
    explicit X11PanelWindowHelper(xcb_connection_t* connection);

    bool compositorActive() const override;
    void showOnAllDesktops(QWindow* window) override;
    void setInputRegion(QWindow* window, const QRegion& region) override;

private:
    xcb_atom_t atom(const char* name) const;

    xcb_connection_t* m_connection;
    xcb_atom_t m_compositorSelection;
    xcb_atom_t m_wmDesktop;
    bool m_hasShape;
};

} // namespace quill
