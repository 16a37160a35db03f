#pragma once

#include <QJsonObject>
#include <QRect>
#include <optional>

// What sway's window tree (get_tree) tells.
namespace quill::sway {

// The rectangle of the focused window in layout coordinates; none when no window has the focus.
std::optional<QRect> focusedWindowRect(const QJsonObject& tree);

} // namespace quill::sway
