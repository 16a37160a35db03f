#pragma once

#include "platform/KeyEventPoster.h"

#include <memory>

struct wl_display;
struct wl_seat;
struct zwp_virtual_keyboard_manager_v1;
struct zwp_virtual_keyboard_v1;

namespace quill {

// Synthetic keys through a virtual keyboard of the compositor's seat (wlroots' virtual keyboard
// protocol, sway and others), on a Wayland connection of our own. It has a US keymap of its
// own, so Ctrl+V is Ctrl+V whatever the user's layout, and sends the modifiers explicitly:
// the compositor does not derive them from the modifier keys of a virtual keyboard. One keyboard
// serves the whole session, since a client such as GTK loses the first key after a keyboard
// with a new keymap appears.
class WaylandVirtualKeyboard final : public KeyEventPoster {
public:
    // None when no compositor answers or it offers no virtual keyboards.
    static std::unique_ptr<WaylandVirtualKeyboard> create();
    ~WaylandVirtualKeyboard() override;
    WaylandVirtualKeyboard(const WaylandVirtualKeyboard&) = delete;
    WaylandVirtualKeyboard& operator=(const WaylandVirtualKeyboard&) = delete;

    bool isAvailable() const override { return true; }
    // The compositor tells no client what the user's keyboard holds.
    Qt::KeyboardModifiers heldModifiers() override { return Qt::NoModifier; }
    // Sway hands a bound key to no client, so nothing waits for it to go up.
    bool isKeyHeld() override { return false; }
    void postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) override;

private:
    WaylandVirtualKeyboard() = default;
    bool connectToCompositor();
    void sendKey(quint32 evdevCode, bool pressed);

    wl_display* m_display = nullptr;
    wl_seat* m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1* m_manager = nullptr;
    zwp_virtual_keyboard_v1* m_keyboard = nullptr;
    quint32 m_modifierMask = 0;
};

} // namespace quill
