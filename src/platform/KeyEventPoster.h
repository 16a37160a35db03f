#pragma once

#include <Qt>

namespace quill {

// Synthetic key presses that reach whichever window has the keyboard focus, as if typed.
class KeyEventPoster {
public:
    virtual ~KeyEventPoster() = default;
    virtual bool isAvailable() const = 0;
    // The modifiers the user holds on the keyboard right now; lock states are not included.
    virtual Qt::KeyboardModifiers heldModifiers() = 0;
    // Whether a key other than a modifier is down right now, such as the key of a shortcut.
    virtual bool isKeyHeld() = 0;
    // Presses `modifiers` (Ctrl, Shift, Alt in that order), taps `key` and releases the
    // modifiers in reverse order. Does nothing when the current keyboard has no such key.
    virtual void postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) = 0;
};

} // namespace quill
