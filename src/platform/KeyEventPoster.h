#pragma once

#include <Qt>
#include <cstdint>
#include <memory>

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
    // Presses `modifiers` (Ctrl, Shift, Alt in that order), taps `keysym` and releases the
    // modifiers in reverse order. Does nothing when the key is not on the keyboard map.
    virtual void postKey(uint32_t keysym, Qt::KeyboardModifiers modifiers) = 0;
};

class NullKeyEventPoster final : public KeyEventPoster {
public:
    bool isAvailable() const override { return false; }
    Qt::KeyboardModifiers heldModifiers() override { return {}; }
    bool isKeyHeld() override { return false; }
    void postKey(uint32_t, Qt::KeyboardModifiers) override {}
};

// The X server's XTEST extension, on a connection of its own.
class XTestKeyEventPoster final : public KeyEventPoster {
public:
    XTestKeyEventPoster();
    ~XTestKeyEventPoster() override;
    XTestKeyEventPoster(const XTestKeyEventPoster&) = delete;
    XTestKeyEventPoster& operator=(const XTestKeyEventPoster&) = delete;

    bool isAvailable() const override;
    Qt::KeyboardModifiers heldModifiers() override;
    bool isKeyHeld() override;
    void postKey(uint32_t keysym, Qt::KeyboardModifiers modifiers) override;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};

} // namespace quill
