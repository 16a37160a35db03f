#pragma once

#include "platform/ActiveWindowTracker.h"

#include <QAbstractNativeEventFilter>
#include <vector>
#include <xcb/xcb.h>

namespace quill {

// Follows the window manager's _NET_ACTIVE_WINDOW on the root windows of Qt's X connection and
// names the owner of each newly active window by its _NET_WM_PID.
class X11ActiveWindowTracker final : public ActiveWindowTracker, private QAbstractNativeEventFilter {
public:
    explicit X11ActiveWindowTracker(xcb_connection_t* connection, QObject* parent = nullptr);

    std::optional<qint64> frontProcessId() override;

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    xcb_atom_t atom(const char* name) const;
    xcb_window_t activeWindow(xcb_window_t root) const;
    std::optional<qint64> processOf(xcb_window_t window) const;
    void readActiveWindow(xcb_window_t root);

    xcb_connection_t* m_connection;
    std::vector<xcb_window_t> m_roots;
    xcb_atom_t m_activeWindowAtom;
    xcb_atom_t m_pidAtom;
    xcb_window_t m_lastWindow = XCB_WINDOW_NONE;
    bool m_readPending = false;
};

} // namespace quill
