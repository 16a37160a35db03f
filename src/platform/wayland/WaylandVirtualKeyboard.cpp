#include "WaylandVirtualKeyboard.h"

#include "FileDescriptor.h"
#include "platform/Log.h"
#include "platform/PhysicalKeys.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <QElapsedTimer>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <wayland-client.h>

namespace quill {
namespace {

// The compositor compiles the keymap with its own xkb data. Its modifier masks are xkb's usual
// ones: Shift 1, Control 4, Mod1 (Alt) 8.
constexpr char keymap[] = "xkb_keymap {\n"
                          "    xkb_keycodes { include \"evdev+aliases(qwerty)\" };\n"
                          "    xkb_types { include \"complete\" };\n"
                          "    xkb_compat { include \"complete\" };\n"
                          "    xkb_symbols { include \"pc+us+inet(evdev)\" };\n"
                          "};\n";
constexpr quint32 xkbKeymapFormat = 1;
constexpr quint32 evdevOffset = 8;
// The compositor answers a roundtrip in milliseconds; one that does not is not worth waiting for.
constexpr int roundtripTimeoutMs = 1000;

struct ModifierKey {
    Qt::KeyboardModifier modifier;
    quint32 evdevCode;
    quint32 mask;
};
// In the order the keys go down: Ctrl, Shift, Alt.
constexpr std::array<ModifierKey, 3> modifierKeys{{
    {Qt::ControlModifier, 29, 4},
    {Qt::ShiftModifier, 42, 1},
    {Qt::AltModifier, 56, 8},
}};

quint32 timestamp() {
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return quint32(clock.elapsed());
}

void registryGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto* globals = static_cast<std::pair<wl_seat*, zwp_virtual_keyboard_manager_v1*>*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->first)
        globals->first = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 && !globals->second)
        globals->second = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
}

void registryGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener{registryGlobal, registryGlobalRemove};

void callbackDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener callbackListener{callbackDone};

// wl_display_roundtrip, but giving up after a deadline instead of waiting for a hung compositor.
bool roundtrip(wl_display* display) {
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &callbackListener, &done);
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done && wl_display_get_error(display) == 0 && elapsed.elapsed() < roundtripTimeoutMs) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&fd, 1, int(roundtripTimeoutMs - elapsed.elapsed())) > 0) {
            wl_display_read_events(display);
        } else {
            wl_display_cancel_read(display);
        }
        wl_display_dispatch_pending(display);
    }
    wl_callback_destroy(callback);
    return done;
}

} // namespace

std::unique_ptr<WaylandVirtualKeyboard> WaylandVirtualKeyboard::create() {
    std::unique_ptr<WaylandVirtualKeyboard> keyboard(new WaylandVirtualKeyboard);
    if (!keyboard->connectToCompositor())
        return nullptr;
    return keyboard;
}

bool WaylandVirtualKeyboard::connectToCompositor() {
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return false;
    std::pair<wl_seat*, zwp_virtual_keyboard_manager_v1*> globals{nullptr, nullptr};
    wl_registry* registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    const bool answered = roundtrip(m_display);
    // Globals announced later would reach `globals`, gone by then; the bound objects stay.
    wl_registry_destroy(registry);
    m_seat = globals.first;
    m_manager = globals.second;
    if (!answered || !m_seat || !m_manager)
        return false;
    m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);

    const FileDescriptor file(memfd_create("quillpoint-keymap", MFD_CLOEXEC));
    if (file.get() < 0 || write(file.get(), keymap, sizeof keymap) != qint64(sizeof keymap)) {
        logLine(lcPlatform(), QStringLiteral("WaylandVirtualKeyboard"),
                QStringLiteral("Could not write the keymap"));
        return false;
    }
    zwp_virtual_keyboard_v1_keymap(m_keyboard, xkbKeymapFormat, file.get(), sizeof keymap);
    // A refusal (the compositor lets only some clients type) shows as a protocol error here.
    if (!roundtrip(m_display) || wl_display_get_error(m_display) != 0) {
        logLine(lcPlatform(), QStringLiteral("WaylandVirtualKeyboard"),
                QStringLiteral("The compositor refused a virtual keyboard"));
        return false;
    }
    return true;
}

WaylandVirtualKeyboard::~WaylandVirtualKeyboard() {
    if (m_keyboard)
        zwp_virtual_keyboard_v1_destroy(m_keyboard);
    if (m_manager)
        zwp_virtual_keyboard_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_display) {
        wl_display_flush(m_display);
        wl_display_disconnect(m_display);
    }
}

void WaylandVirtualKeyboard::sendKey(quint32 evdevCode, bool pressed) {
    zwp_virtual_keyboard_v1_key(m_keyboard, timestamp(), evdevCode,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
}

void WaylandVirtualKeyboard::postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    const quint32 scanCode = scanCodeForPhysicalKey(key);
    if (scanCode < evdevOffset || wl_display_get_error(m_display) != 0)
        return;
    std::vector<ModifierKey> pressed;
    for (const auto& modifier : modifierKeys) {
        if (!(modifiers & modifier.modifier))
            continue;
        sendKey(modifier.evdevCode, true);
        m_modifierMask |= modifier.mask;
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, m_modifierMask, 0, 0, 0);
        pressed.push_back(modifier);
    }
    sendKey(scanCode - evdevOffset, true);
    sendKey(scanCode - evdevOffset, false);
    for (auto modifier = pressed.rbegin(); modifier != pressed.rend(); ++modifier) {
        sendKey(modifier->evdevCode, false);
        m_modifierMask &= ~modifier->mask;
        zwp_virtual_keyboard_v1_modifiers(m_keyboard, m_modifierMask, 0, 0, 0);
    }
    // The events are small and the socket's buffer large; a compositor that does not read
    // them keeps them there, and the next key tries again.
    wl_display_dispatch_pending(m_display);
    if (wl_display_flush(m_display) < 0 && errno != EAGAIN)
        logLine(lcPlatform(), QStringLiteral("WaylandVirtualKeyboard"),
                QStringLiteral("The compositor's connection is gone; keys are not sent"));
}

} // namespace quill
