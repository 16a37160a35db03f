#include "PanelPlacement.h"

#include <algorithm>

namespace quill::PanelPlacement {

int clampedWidth(int width) {
    return std::min(std::max(width, minSize.width()), maxSize.width());
}

int clampedHeight(int height) {
    return std::min(std::max(height, minSize.height()), maxSize.height());
}

std::optional<ScreenArea> screenForPointer(const DisplayLayout& layout) {
    const auto found =
        std::find_if(layout.screens.cbegin(), layout.screens.cend(), [&](const ScreenArea& screen) {
            return layout.pointer && screen.frame.contains(*layout.pointer);
        });
    if (found != layout.screens.cend())
        return *found;
    return layout.mainScreen;
}

std::optional<QRect> place(QSize fittingSize, const DisplayLayout& layout) {
    const std::optional<ScreenArea> screen = screenForPointer(layout);
    if (!screen)
        return std::nullopt;
    const int w = clampedWidth(fittingSize.width());
    const int h = clampedHeight(fittingSize.height());
    const QRect& visible = screen->visibleFrame;
    const int visibleRight = visible.x() + visible.width();
    const int visibleBottom = visible.y() + visible.height();
    if (!layout.pointer)
        return QRect(visible.x() + (visible.width() - w) / 2, visible.y() + panelPadding, w, h);
    const QPoint& pointer = *layout.pointer;

    int x = pointer.x() + panelPadding;
    if (visibleRight < x + w)
        x = pointer.x() - w - panelPadding;

    int y = pointer.y() + panelPadding;
    if (y + h > visibleBottom)
        y = pointer.y() - panelPadding - h;
    if (y < visible.y())
        y = visible.y() + panelPadding;
    return QRect(x, y, w, h);
}

} // namespace quill::PanelPlacement
