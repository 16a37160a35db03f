#pragma once

#include "SwayIpcConnection.h"
#include "platform/PanelWindowHelper.h"

#include <memory>
#include <optional>

namespace quill {

// Our panel in sway (`windows` does the window work, on XWayland the X11 helper). sway tells no
// client where the pointer is, so the panel goes where the focused window is: a point in its
// upper middle, from sway's window tree.
class SwayPanelWindowHelper final : public PanelWindowHelper {
public:
    SwayPanelWindowHelper(std::unique_ptr<PanelWindowHelper> windows, std::unique_ptr<SwayIpcConnection> ipc);

    bool compositorActive() const override { return m_windows->compositorActive(); }
    void showOnAllDesktops(QWindow* window) override { m_windows->showOnAllDesktops(window); }
    void setInputRegion(QWindow* window, const QRegion& region) override {
        m_windows->setInputRegion(window, region);
    }
    std::optional<QPoint> pointerPosition() override { return m_lastAnswer; }
    void refreshPointerPosition(const std::function<void(std::optional<QPoint>)>& done) override;

    // The point of a focused window the panel is placed at.
    static QPoint anchorIn(const QRect& window);

private:
    std::unique_ptr<PanelWindowHelper> m_windows;
    std::unique_ptr<SwayIpcConnection> m_ipc;
    std::optional<QPoint> m_lastAnswer;
};

} // namespace quill
