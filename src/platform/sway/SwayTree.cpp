#include "SwayTree.h"

#include <QJsonArray>

namespace quill::sway {
namespace {

// Deep enough for any layout a user builds; a deeper tree is not sway's.
constexpr int maxDepth = 64;

std::optional<QRect> findFocused(const QJsonObject& node, int depth) {
    if (depth > maxDepth)
        return std::nullopt;
    const QString type = node.value(QStringLiteral("type")).toString();
    if (node.value(QStringLiteral("focused")).toBool() &&
        (type == QLatin1String("con") || type == QLatin1String("floating_con"))) {
        const QJsonObject rect = node.value(QStringLiteral("rect")).toObject();
        const QRect r(rect.value(QStringLiteral("x")).toInt(), rect.value(QStringLiteral("y")).toInt(),
                      rect.value(QStringLiteral("width")).toInt(),
                      rect.value(QStringLiteral("height")).toInt());
        return r.isValid() ? std::optional(r) : std::nullopt;
    }
    for (const auto* children : {"nodes", "floating_nodes"}) {
        for (const auto& child : node.value(QLatin1String(children)).toArray())
            if (const auto found = findFocused(child.toObject(), depth + 1))
                return found;
    }
    return std::nullopt;
}

} // namespace

std::optional<QRect> focusedWindowRect(const QJsonObject& tree) {
    return findFocused(tree, 0);
}

} // namespace quill::sway
