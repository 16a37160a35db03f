#include "X11KeyGrabber.h"

#include "X11Keys.h"
#include "platform/Log.h"
#include "platform/PhysicalKeys.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <xcb/xcb_keysyms.h>

namespace quill {

using namespace x11;

namespace {

constexpr uint32_t numLockKeysym = 0xff7f;
constexpr uint16_t matchedModifiers =
    modifierMask::shift | modifierMask::control | modifierMask::mod1 | modifierMask::mod4;
constexpr uint8_t xkbNewKeyboardNotify = 0;
constexpr uint8_t xkbMapNotify = 1;
// The repeated press follows its release in the same write of the server, so it is usually
// handled in the same pass over Qt's event queue; when the main thread is late, the key's state
// at the server says whether to wait on.
constexpr std::chrono::milliseconds repeatPairWindow{25};

template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> XcbReply<T> reply(T* raw) {
    return XcbReply<T>(raw, &std::free);
}

} // namespace

X11KeyGrabber::X11KeyGrabber(xcb_connection_t* connection) : m_connection(connection) {
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem; xcb_screen_next(&it))
        m_roots.push_back(it.data->root);
    // Qt closes its connection when the application object goes; calls after that do nothing.
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QObject::destroyed, &m_context, [this] { m_connection = nullptr; });
}

X11KeyGrabber::~X11KeyGrabber() {
    if (m_connection) {
        for (const auto& [combination, keycodes] : m_grabs)
            ungrabKeycodes(combination, keycodes);
        xcb_flush(m_connection);
    }
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
}

bool X11KeyGrabber::install(PressHandler onPress, ReleaseHandler onRelease) {
    if (!m_connection || xcb_connection_has_error(m_connection))
        return false;
    m_onPress = std::move(onPress);
    m_onRelease = std::move(onRelease);
    if (!m_installed) {
        m_installed = true;
        constexpr char xkbName[] = "XKEYBOARD";
        auto xkb = reply(xcb_query_extension_reply(
            m_connection, xcb_query_extension(m_connection, sizeof(xkbName) - 1, xkbName), nullptr));
        if (xkb && xkb->present)
            m_xkbEventBase = xkb->first_event;
        reloadKeyboard();
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    return true;
}

KeyGrabber::GrabResult X11KeyGrabber::grab(const KeyCombination& combination) {
    if (!m_connection || !m_keySymbols)
        return GrabResult::unwatched;
    if (m_grabs.contains(combination))
        return GrabResult::grabbed;
    const std::vector<xcb_keycode_t> keycodes = keycodesFor(combination.key);
    if (keycodes.empty())
        return GrabResult::noSuchKey;
    if (!grabKeycodes(combination, keycodes))
        return GrabResult::taken;
    m_grabs.emplace(combination, keycodes);
    return GrabResult::grabbed;
}

void X11KeyGrabber::ungrab(const KeyCombination& combination) {
    const auto it = m_grabs.find(combination);
    if (it == m_grabs.end())
        return;
    if (m_connection) {
        ungrabKeycodes(combination, it->second);
        xcb_flush(m_connection);
    }
    m_grabs.erase(it);
}

std::vector<xcb_keycode_t> X11KeyGrabber::keycodesFor(uint32_t keysym) const {
    std::vector<xcb_keycode_t> keycodes;
    if (xcb_keycode_t* list = xcb_key_symbols_get_keycode(m_keySymbols, keysym)) {
        for (const xcb_keycode_t* code = list; *code != XCB_NO_SYMBOL; ++code)
            keycodes.push_back(*code);
        std::free(list);
    }
    return keycodes;
}

std::vector<xcb_keycode_t> X11KeyGrabber::keycodesFor(Qt::Key key) const {
    // The shortcut is the key the user pressed when recording it, wherever the current layout
    // puts the character it typed then.
    const quint32 keycode = scanCodeForPhysicalKey(key);
    const xcb_setup_t* setup = xcb_get_setup(m_connection);
    if (keycode < setup->min_keycode || keycode > setup->max_keycode)
        return {};
    return {xcb_keycode_t(keycode)};
}

std::vector<uint16_t> X11KeyGrabber::lockVariants() const {
    std::vector<uint16_t> variants{0, modifierMask::lock};
    if (m_numLockMask) {
        variants.push_back(m_numLockMask);
        variants.push_back(modifierMask::lock | m_numLockMask);
    }
    return variants;
}

bool X11KeyGrabber::grabKeycodes(const KeyCombination& combination,
                                 const std::vector<xcb_keycode_t>& keycodes) {
    // Send every grab first and collect the answers afterwards: one round trip, not sixteen.
    std::vector<xcb_void_cookie_t> cookies;
    for (xcb_window_t root : m_roots) {
        for (xcb_keycode_t keycode : keycodes) {
            for (uint16_t lock : lockVariants())
                cookies.push_back(xcb_grab_key_checked(m_connection, 0, root,
                                                       modifierMaskFor(combination.modifiers) | lock, keycode,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        }
    }
    bool taken = false;
    for (xcb_void_cookie_t cookie : cookies) {
        if (auto error = reply(xcb_request_check(m_connection, cookie)))
            taken = true;
    }
    if (taken) {
        // Some lock states may have been granted; a shortcut that works only with Caps Lock on
        // would be worse than none. Ungrabbing never touches another client's grab.
        ungrabKeycodes(combination, keycodes);
        xcb_flush(m_connection);
    }
    return !taken;
}

void X11KeyGrabber::ungrabKeycodes(const KeyCombination& combination,
                                   const std::vector<xcb_keycode_t>& keycodes) {
    for (xcb_window_t root : m_roots) {
        for (xcb_keycode_t keycode : keycodes) {
            for (uint16_t lock : lockVariants())
                xcb_ungrab_key(m_connection, keycode, root, modifierMaskFor(combination.modifiers) | lock);
        }
    }
}

void X11KeyGrabber::reloadKeyboard() {
    if (m_keySymbols)
        xcb_key_symbols_free(m_keySymbols);
    m_keySymbols = xcb_key_symbols_alloc(m_connection);
    m_numLockMask = 0;
    const std::vector<xcb_keycode_t> numLock = keycodesFor(numLockKeysym);
    auto mapping =
        reply(xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!mapping)
        return;
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    for (int modifierIndex = 0; modifierIndex < 8; ++modifierIndex) {
        for (int i = 0; i < perModifier; ++i) {
            const xcb_keycode_t code = codes[modifierIndex * perModifier + i];
            if (code != XCB_NO_SYMBOL && std::ranges::find(numLock, code) != numLock.end())
                m_numLockMask = uint16_t(1u << modifierIndex);
        }
    }
}

void X11KeyGrabber::scheduleRegrab() {
    if (m_regrabPending)
        return;
    m_regrabPending = true;
    QMetaObject::invokeMethod(
        &m_context, [this] { regrabAll(); }, Qt::QueuedConnection);
}

void X11KeyGrabber::regrabAll() {
    m_regrabPending = false;
    if (!m_connection)
        return;
    // After a keyboard change Num Lock may sit on another modifier, and the grabs for each lock
    // state with it.
    for (const auto& [combination, keycodes] : m_grabs)
        ungrabKeycodes(combination, keycodes);
    reloadKeyboard();
    std::vector<std::pair<KeyCombination, GrabResult>> lost;
    for (auto it = m_grabs.begin(); it != m_grabs.end();) {
        it->second = keycodesFor(it->first.key);
        const bool present = !it->second.empty();
        if (present && grabKeycodes(it->first, it->second)) {
            ++it;
            continue;
        }
        logLine(lcPlatform(), QStringLiteral("X11KeyGrabber"),
                QStringLiteral("Lost the key 0x%1 after a keyboard change").arg(int(it->first.key), 0, 16));
        lost.emplace_back(it->first, present ? GrabResult::taken : GrabResult::noSuchKey);
        it = m_grabs.erase(it);
    }
    xcb_flush(m_connection);
    // After the loop: whoever hears of it may grab or ungrab in turn.
    if (m_onRefusal) {
        for (const auto& [combination, result] : lost)
            m_onRefusal(combination, result);
    }
}

bool X11KeyGrabber::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    const uint8_t type = event->response_type & 0x7f;
    if (type == XCB_KEY_PRESS)
        return keyPressed(*reinterpret_cast<const xcb_key_press_event_t*>(event));
    if (type == XCB_KEY_RELEASE)
        return keyReleased(*reinterpret_cast<const xcb_key_release_event_t*>(event));
    if (type == XCB_MAPPING_NOTIFY) {
        if (reinterpret_cast<const xcb_mapping_notify_event_t*>(event)->request != XCB_MAPPING_POINTER)
            scheduleRegrab();
        return false;
    }
    if (m_xkbEventBase >= 0 && type == m_xkbEventBase) {
        const uint8_t xkbType = reinterpret_cast<const uint8_t*>(event)[1];
        if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify)
            scheduleRegrab();
    }
    return false;
}

bool X11KeyGrabber::keyPressed(const xcb_key_press_event_t& press) {
    if (std::ranges::find(m_roots, press.event) == m_roots.end())
        return false;
    if (m_held.contains(press.detail)) {
        const auto pending = m_pendingReleases.find(press.detail);
        if (pending == m_pendingReleases.end())
            return true; // a repeat under detectable auto-repeat: no release came between
        if (pending->second == press.time) {
            m_pendingReleases.erase(pending);
            return true;
        }
        // A real release, and already a new press.
        confirmRelease(press.detail, pending->second);
    }
    const uint16_t modifiers = press.state & matchedModifiers;
    for (const auto& [combination, keycodes] : m_grabs) {
        if (modifierMaskFor(combination.modifiers) == modifiers &&
            std::ranges::find(keycodes, press.detail) != keycodes.end()) {
            m_held.insert_or_assign(press.detail, combination);
            logLatencyMark("key event");
            if (m_onPress)
                m_onPress(combination);
            return true;
        }
    }
    return false;
}

bool X11KeyGrabber::isKeyDown(xcb_keycode_t keycode) const {
    if (!m_connection)
        return false;
    const auto keymap = reply(xcb_query_keymap_reply(m_connection, xcb_query_keymap(m_connection), nullptr));
    return keymap && (keymap->keys[keycode / 8] & (1u << (keycode % 8))) != 0;
}

bool X11KeyGrabber::keyReleased(const xcb_key_release_event_t& release) {
    // The release comes with the modifiers held at that moment, which may no longer be the
    // shortcut's: it is matched by its key alone.
    if (std::ranges::find(m_roots, release.event) == m_roots.end() || !m_held.contains(release.detail))
        return false;
    m_pendingReleases.insert_or_assign(release.detail, release.time);
    awaitRepeat(release.detail, release.time);
    return true;
}

void X11KeyGrabber::awaitRepeat(xcb_keycode_t keycode, xcb_timestamp_t time) {
    QTimer::singleShot(repeatPairWindow, &m_context, [this, keycode, time] {
        const auto pending = m_pendingReleases.find(keycode);
        if (pending == m_pendingReleases.end() || pending->second != time)
            return;
        // Down at the server: a press is on its way that tells a repeat from a new press (or, with
        // the modifiers let go first, goes to another window; then the key's state ends the wait).
        if (isKeyDown(keycode))
            awaitRepeat(keycode, time);
        else
            confirmRelease(keycode, time);
    });
}

void X11KeyGrabber::confirmRelease(xcb_keycode_t keycode, xcb_timestamp_t time) {
    const auto pending = m_pendingReleases.find(keycode);
    if (pending == m_pendingReleases.end() || pending->second != time)
        return;
    m_pendingReleases.erase(pending);
    const auto held = m_held.find(keycode);
    if (held == m_held.end())
        return;
    const KeyCombination combination = held->second;
    m_held.erase(held);
    if (m_onRelease)
        m_onRelease(combination);
}

} // namespace quill
