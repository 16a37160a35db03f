#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <optional>

namespace quill {

// A screen's whole area and the part of it free of panels and docks, in global coordinates
// (origin top left, y downwards).
struct ScreenArea {
    QRect frame;
    QRect visibleFrame;
};

// Where the pointer is (none when the window system does not say) and which screens there
// are, in the window system's order.
struct DisplayLayout {
    std::optional<QPoint> pointer;
    QList<ScreenArea> screens;
    std::optional<ScreenArea> mainScreen;
};

namespace PanelPlacement {

inline constexpr int panelPadding = 20;
inline constexpr QSize minSize{380, 120};
inline constexpr QSize maxSize{700, 600};

int clampedWidth(int width);
int clampedHeight(int height);

// The first screen that holds the pointer, else the main screen.
std::optional<ScreenArea> screenForPointer(const DisplayLayout& layout);

// The panel's frame for content of `fittingSize`: beside the pointer, below it when there is
// room, above it otherwise, never above the top of the visible area. Without a pointer, at the
// top centre of the main screen's visible area.
std::optional<QRect> place(QSize fittingSize, const DisplayLayout& layout);

} // namespace PanelPlacement
} // namespace quill
