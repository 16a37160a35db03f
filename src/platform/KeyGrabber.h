#pragma once

#include <Qt>
#include <functional>

namespace quill {

// A key, as the key Qt names for what it types, and the exact modifiers (Ctrl, Shift, Alt,
// Meta) that must be held with it.
struct KeyCombination {
    Qt::Key key = Qt::Key_unknown;
    Qt::KeyboardModifiers modifiers;
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
        noSuchKey // the current keyboard has no key that types `key`
    };
    using PressHandler = std::function<void(const KeyCombination&)>;

    virtual ~KeyGrabber() = default;
    // Starts watching the keyboard; false when this session offers no way to do so.
    virtual bool install(PressHandler onPress) = 0;
    virtual GrabResult grab(const KeyCombination& combination) = 0;
    virtual void ungrab(const KeyCombination& combination) = 0;
};

} // namespace quill

template <> struct std::hash<quill::KeyCombination> {
    size_t operator()(const quill::KeyCombination& c) const noexcept {
        return std::hash<quint64>{}((quint64(c.key) << 32) | quint64(c.modifiers.toInt()));
    }
};
