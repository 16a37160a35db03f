#include "SwayPanelWindowHelper.h"

#include "SwayTree.h"

namespace quill {

SwayPanelWindowHelper::SwayPanelWindowHelper(std::unique_ptr<PanelWindowHelper> windows,
                                             std::unique_ptr<SwayIpcConnection> ipc)
    : m_windows(std::move(windows))
    , m_ipc(std::move(ipc)) {}

QPoint SwayPanelWindowHelper::anchorIn(const QRect& window) {
    return {window.center().x(), window.top() + window.height() / 4};
}

void SwayPanelWindowHelper::refreshPointerPosition(const std::function<void(std::optional<QPoint>)>& done) {
    m_ipc->send(SwayIpcConnection::getTree, {}, [this, done](const QJsonDocument& reply) {
        const auto focused = sway::focusedWindowRect(reply.object());
        if (focused)
            m_lastAnswer = anchorIn(*focused);
        done(focused ? m_lastAnswer : std::nullopt);
    });
}

} // namespace quill
