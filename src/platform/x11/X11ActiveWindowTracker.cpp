#include "X11ActiveWindowTracker.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace quill {
namespace {

template <typename T> using XcbReply = std::unique_ptr<T, decltype(&std::free)>;
template <typename T> XcbReply<T> reply(T* raw) {
    return XcbReply<T>(raw, &std::free);
}

} // namespace

X11ActiveWindowTracker::X11ActiveWindowTracker(xcb_connection_t* connection, QObject* parent)
    : ActiveWindowTracker(parent)
    , m_connection(connection)
    , m_activeWindowAtom(atom("_NET_ACTIVE_WINDOW"))
    , m_pidAtom(atom("_NET_WM_PID")) {
    for (auto it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem; xcb_screen_next(&it)) {
        const xcb_window_t root = it.data->root;
        m_roots.push_back(root);
        // Add to the root's event mask rather than replace it: Qt selects its own events there.
        auto attributes = reply(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, root), nullptr));
        const uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &mask);
    }
    xcb_flush(m_connection);
    if (QCoreApplication* app = QCoreApplication::instance()) {
        app->installNativeEventFilter(this);
        connect(app, &QObject::destroyed, this, [this] { m_connection = nullptr; });
    }
}

std::optional<qint64> X11ActiveWindowTracker::frontProcessId() {
    if (!m_connection || m_roots.empty())
        return std::nullopt;
    const xcb_window_t window = activeWindow(m_roots.front());
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    return processOf(window);
}

xcb_atom_t X11ActiveWindowTracker::atom(const char* name) const {
    auto answer = reply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name), nullptr));
    return answer ? answer->atom : xcb_atom_t(XCB_ATOM_NONE);
}

xcb_window_t X11ActiveWindowTracker::activeWindow(xcb_window_t root) const {
    auto property = reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, root, m_activeWindowAtom, XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) < 4)
        return XCB_WINDOW_NONE;
    return *static_cast<const xcb_window_t*>(xcb_get_property_value(property.get()));
}

std::optional<qint64> X11ActiveWindowTracker::processOf(xcb_window_t window) const {
    auto property = reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1),
        nullptr));
    if (!property || property->format != 32 || xcb_get_property_value_length(property.get()) < 4)
        return std::nullopt;
    const uint32_t pid = *static_cast<const uint32_t*>(xcb_get_property_value(property.get()));
    if (pid == 0)
        return std::nullopt;
    return qint64(pid);
}

void X11ActiveWindowTracker::readActiveWindow(xcb_window_t root) {
    m_readPending = false;
    if (!m_connection)
        return;
    // Window managers announce one switch several times, openbox first with no window at all.
    const xcb_window_t window = activeWindow(root);
    if (window == XCB_WINDOW_NONE || window == m_lastWindow)
        return;
    m_lastWindow = window;
    if (const auto pid = processOf(window))
        emit activated(*pid);
}

bool X11ActiveWindowTracker::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (notify->atom != m_activeWindowAtom || std::ranges::find(m_roots, notify->window) == m_roots.end())
        return false;
    // Reading the property takes round trips; do it after Qt has finished this event.
    if (!m_readPending) {
        m_readPending = true;
        const xcb_window_t root = notify->window;
        QMetaObject::invokeMethod(
            this, [this, root] { readActiveWindow(root); }, Qt::QueuedConnection);
    }
    return false;
}

} // namespace quill
