#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace quill {

enum class ShortcutAction { explainSelection, transcribeOnly, cancelTranscription };

inline constexpr std::array<ShortcutAction, 3> allShortcutActions = {
    ShortcutAction::explainSelection, ShortcutAction::transcribeOnly, ShortcutAction::cancelTranscription};

QString rawValue(ShortcutAction action);
std::optional<ShortcutAction> shortcutActionFromRawValue(const QString& raw);

// Modifier bits as stored. The values are the classic Mac modifier masks (Command, Shift, Option,
// Control), kept so that stored shortcuts keep their meaning; named here by the Linux key each
// stands for.
namespace modifier {
inline constexpr uint32_t ctrl = 0x0100;
inline constexpr uint32_t shift = 0x0200;
inline constexpr uint32_t alt = 0x0800;
inline constexpr uint32_t super = 0x1000;
inline constexpr uint32_t all = ctrl | shift | alt | super;
} // namespace modifier

// Key codes are Mac virtual key codes (18 is the "1" key, 53 Escape); KeyCodes.h maps them.
struct Shortcut {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    friend bool operator==(const Shortcut&, const Shortcut&) = default;
};

struct ShortcutKey {
    uint32_t keyCode = 0;
    uint32_t modifiers = 0;
    ShortcutKey() = default;
    ShortcutKey(uint32_t code, uint32_t mods) : keyCode(code), modifiers(mods) {}
    explicit ShortcutKey(const Shortcut& s) : keyCode(s.keyCode), modifiers(s.modifiers) {}
    friend bool operator==(const ShortcutKey&, const ShortcutKey&) = default;
};

Shortcut defaultShortcut(ShortcutAction action);

} // namespace quill

template <> struct std::hash<quill::ShortcutKey> {
    size_t operator()(const quill::ShortcutKey& k) const noexcept {
        return std::hash<uint64_t>{}((uint64_t(k.keyCode) << 32) | k.modifiers);
    }
};
