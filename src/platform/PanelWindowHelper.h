#pragma once

#include <QCursor>
#include <QPoint>
#include <QRegion>
#include <functional>
#include <optional>

class QWindow;

namespace quill {

// The window-system side of the floating panel: what Qt's window flags cannot say.
class PanelWindowHelper {
public:
    virtual ~PanelWindowHelper() = default;
    // True when a compositing manager draws translucent windows; without one, pixels that
    // are not painted show black and the window must be shaped instead.
    virtual bool compositorActive() const = 0;
    // Keeps the window on every virtual desktop. Call before each show: window managers
    // forget the desktop of a window they withdraw.
    virtual void showOnAllDesktops(QWindow* window) = 0;
    // Limits where the window takes pointer input, so its transparent shadow lets clicks
    // through to the windows below.
    virtual void setInputRegion(QWindow* window, const QRegion& region) = 0;
    // Where the pointer is in global coordinates; none when the session does not say. On
    // Wayland a client does not learn the pointer's position over other clients' windows,
    // and XWayland's stays where the pointer last left an X11 window.
    virtual std::optional<QPoint> pointerPosition() { return QCursor::pos(); }
    // Asks for a fresher position than pointerPosition() knows, without waiting for it: `done`
    // runs once on the main thread with the position, or none when there is nothing fresher.
    // Sessions that know the pointer at once answer none right away.
    virtual void refreshPointerPosition(const std::function<void(std::optional<QPoint>)>& done) {
        done(std::nullopt);
    }
};

} // namespace quill
