#include "X11KeyboardLayout.h"

#include "platform/PhysicalKeys.h"

#include <QChar>
#include <QCoreApplication>
#include <memory>
#include <xkbcommon/xkbcommon-x11.h>

namespace quill {
namespace {

// XKB event subtypes (xkb.h, not included to keep xcb-xkb out of the build).
constexpr uint8_t xkbNewKeyboardNotify = 0;
constexpr uint8_t xkbMapNotify = 1;

struct StateDeleter {
    void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

xkb_keysym_t keysymAt(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout,
                      xkb_level_index_t level) {
    const xkb_keysym_t* syms = nullptr;
    return xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) == 1 ? syms[0]
                                                                                    : XKB_KEY_NoSymbol;
}

// The printable character a keysym types, upper case; empty for dead keys, space and the like.
QString printable(xkb_keysym_t keysym) {
    const char32_t ucs = xkb_keysym_to_utf32(xkb_keysym_to_upper(keysym));
    if (ucs == 0 || !QChar::isPrint(ucs) || QChar::isSpace(ucs))
        return {};
    return QString::fromUcs4(&ucs, 1);
}

bool isDigit(const QString& label) {
    return label.size() == 1 && label.front().isDigit();
}

} // namespace

X11KeyboardLayout::X11KeyboardLayout(xcb_connection_t* connection)
    : m_connection(connection)
    , m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    uint8_t eventBase = 0;
    if (!m_context || !xkb_x11_setup_xkb_extension(
                          m_connection, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                          XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &eventBase, nullptr))
        return;
    m_deviceId = xkb_x11_get_core_keyboard_device_id(m_connection);
    m_xkbEventBase = eventBase;
    // Qt's own keyboard handling selects the keymap notifications on this connection.
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11KeyboardLayout::~X11KeyboardLayout() {
    if (m_xkbEventBase >= 0 && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    xkb_keymap_unref(m_keymap);
    xkb_context_unref(m_context);
}

bool X11KeyboardLayout::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) == m_xkbEventBase) {
        const uint8_t xkbType = reinterpret_cast<const uint8_t*>(event)[1];
        if (xkbType == xkbNewKeyboardNotify || xkbType == xkbMapNotify) {
            xkb_keymap_unref(m_keymap);
            m_keymap = nullptr;
        }
    }
    return false;
}

QString X11KeyboardLayout::keyLabel(Qt::Key physicalKey) {
    const quint32 keycode = scanCodeForPhysicalKey(physicalKey);
    if (m_deviceId < 0 || keycode == 0)
        return {};
    if (!m_keymap)
        m_keymap =
            xkb_x11_keymap_new_from_device(m_context, m_connection, m_deviceId, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!m_keymap)
        return {};
    const std::unique_ptr<xkb_state, StateDeleter> state(
        xkb_x11_state_new_from_device(m_keymap, m_connection, m_deviceId));
    if (!state)
        return {};
    const xkb_layout_index_t layout = xkb_state_key_get_layout(state.get(), keycode);
    QString base = printable(keysymAt(m_keymap, keycode, layout, 0));
    // The digit row of AZERTY layouts types symbols and gives the digit with Shift; the digit is
    // what the cap shows and what people call the key.
    QString shifted = printable(keysymAt(m_keymap, keycode, layout, 1));
    if (!isDigit(base) && isDigit(shifted) && !(base.size() == 1 && base.front().isLetter()))
        return shifted;
    return base;
}

} // namespace quill
