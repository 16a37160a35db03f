#pragma once

#include <QObject>
#include <Qt>
#include <functional>

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

    // False while the desktop has yet to let us post keys (it may ask the user first).
    virtual bool isReady() const { return isAvailable(); }
    // Asks the desktop for the keyboard where it has not been asked yet; `done` learns whether
    // keys can be posted, at once or on a later turn, in the context of `context` (not at all
    // once that is gone).
    virtual void prepare(QObject* /*context*/, const std::function<void(bool ready)>& done) {
        done(isAvailable());
    }
};

} // namespace quill
