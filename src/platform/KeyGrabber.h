#pragma once

#include <cstdint>
#include <functional>

namespace quill {

// X core modifier masks, the form a key combination takes on the X server.
namespace xmodifier {
inline constexpr uint16_t shift = 0x01;
inline constexpr uint16_t lock = 0x02;
inline constexpr uint16_t control = 0x04;
inline constexpr uint16_t mod1 = 0x08;
inline constexpr uint16_t mod4 = 0x40;
} // namespace xmodifier

// A key (as a keysym, independent of the keyboard layout's key numbers) and the exact
// modifiers that must be held with it.
struct KeyCombination {
    uint32_t keysym = 0;
    uint16_t modifiers = 0;
    friend bool operator==(const KeyCombination&, const KeyCombination&) = default;
};

// A system-wide keyboard hook: takes a key combination away from every application and reports
// each press of it. Presses are reported on the main thread, from inside the window system's
// event dispatch, so the receiver must only note them and defer any real work.
class KeyGrabber {
public:
    enum class GrabResult {
        grabbed,
        taken,    // another client holds the combination; nothing of it stays grabbed
        noSuchKey // the current keyboard has no key that types the keysym
    };
    using PressHandler = std::function<void(const KeyCombination&)>;

    virtual ~KeyGrabber() = default;
    // Starts watching the keyboard; false when this session offers no way to do so.
    virtual bool install(PressHandler onPress) = 0;
    virtual GrabResult grab(const KeyCombination& combination) = 0;
    virtual void ungrab(const KeyCombination& combination) = 0;
};

// For sessions without a system-wide keyboard hook (Wayland, offscreen).
class NullKeyGrabber final : public KeyGrabber {
public:
    bool install(PressHandler) override { return false; }
    GrabResult grab(const KeyCombination&) override { return GrabResult::taken; }
    void ungrab(const KeyCombination&) override {}
};

} // namespace quill

template <> struct std::hash<quill::KeyCombination> {
    size_t operator()(const quill::KeyCombination& c) const noexcept {
        return std::hash<uint64_t>{}((uint64_t(c.keysym) << 16) | c.modifiers);
    }
};
