#pragma once

#include "platform/KeyGrabber.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <unordered_map>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace quill {

// Passive key grabs on the root windows of Qt's own X connection. Each combination is grabbed
// for the four lock states (none, Caps Lock, Num Lock, both) so that a shortcut keeps working
// whatever the lock keys show; grabbed presses are read from Qt's event stream before Qt sees
// them and are never delivered to the window in front. The server's auto-repeat sends a held key
// as release/press pairs with one timestamp: a release is reported only once no such press
// followed it and the server says the key is up, and a press of a key already down is a repeat.
class X11KeyGrabber final : public KeyGrabber, private QAbstractNativeEventFilter {
public:
    explicit X11KeyGrabber(xcb_connection_t* connection);
    ~X11KeyGrabber() override;

    bool install(PressHandler onPress, ReleaseHandler onRelease) override;
    GrabResult grab(const KeyCombination& combination) override;
    void ungrab(const KeyCombination& combination) override;
    void setRefusalHandler(const RefusalHandler& handler) override { m_onRefusal = handler; }

private:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    std::vector<xcb_keycode_t> keycodesFor(uint32_t keysym) const;
    std::vector<xcb_keycode_t> keycodesFor(Qt::Key key) const;
    std::vector<uint16_t> lockVariants() const;
    bool grabKeycodes(const KeyCombination& combination, const std::vector<xcb_keycode_t>& keycodes);
    void ungrabKeycodes(const KeyCombination& combination, const std::vector<xcb_keycode_t>& keycodes);
    void reloadKeyboard();
    void scheduleRegrab();
    void regrabAll();
    bool keyPressed(const xcb_key_press_event_t& press);
    bool keyReleased(const xcb_key_release_event_t& release);
    void awaitRepeat(xcb_keycode_t keycode, xcb_timestamp_t time);
    void confirmRelease(xcb_keycode_t keycode, xcb_timestamp_t time);
    bool isKeyDown(xcb_keycode_t keycode) const;

    xcb_connection_t* m_connection;
    std::vector<xcb_window_t> m_roots;
    xcb_key_symbols_t* m_keySymbols = nullptr;
    uint16_t m_numLockMask = 0;
    int m_xkbEventBase = -1;
    bool m_installed = false;
    bool m_regrabPending = false;
    PressHandler m_onPress;
    ReleaseHandler m_onRelease;
    RefusalHandler m_onRefusal;
    // Grabbed keys that are down, and the combination each was pressed as.
    std::unordered_map<xcb_keycode_t, KeyCombination> m_held;
    // Releases of held keys that a repeated press may still take back, with their server time.
    std::unordered_map<xcb_keycode_t, xcb_timestamp_t> m_pendingReleases;
    std::unordered_map<KeyCombination, std::vector<xcb_keycode_t>> m_grabs;
    // Receives the calls this object posts to the main queue; dropped with it.
    QObject m_context;
};

} // namespace quill
