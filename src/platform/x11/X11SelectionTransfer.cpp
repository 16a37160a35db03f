#include "X11SelectionTransfer.h"

#include <QSet>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <poll.h>

namespace quill {
namespace {

template <typename T> struct Reply {
    explicit Reply(T* reply) : value(reply) {}
    ~Reply() { free(value); }
    Reply(const Reply&) = delete;
    Reply& operator=(const Reply&) = delete;
    T* operator->() const { return value; }
    explicit operator bool() const { return value != nullptr; }
    T* value;
};

// Targets that describe or act on the selection rather than hold its contents, and forms of the
// text that its UTF-8 form already carries.
const QSet<QByteArray> kSkippedTargets = {
    "TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS",  "DELETE", "INSERT_SELECTION", "INSERT_PROPERTY",
    "PIXMAP",  "BITMAP",   "DRAWABLE",  "COMPOUND_TEXT", "LENGTH", "ATOM_PAIR",        "INCR",
};

const QString kTextFormat = QStringLiteral("text/plain");

} // namespace

X11SelectionTransfer::X11SelectionTransfer(std::chrono::milliseconds timeBudget) : m_timeBudget(timeBudget) {}

X11SelectionTransfer::~X11SelectionTransfer() {
    if (m_xcb)
        xcb_disconnect(m_xcb);
}

std::optional<QStringList> X11SelectionTransfer::formats(Clock::time_point deadline) {
    m_xcb = xcb_connect(nullptr, &m_screen);
    if (xcb_connection_has_error(m_xcb) || !createWindow())
        return std::nullopt;
    m_clipboard = atom("CLIPBOARD");
    m_incr = atom("INCR");
    if (!hasOwner())
        return QStringList();
    // An owner that cannot say what it holds may hold anything.
    const auto targets = fetchTarget(atom("TARGETS"), qsizetype{64} * 1024, deadline);
    if (!targets || targets->isEmpty())
        return std::nullopt;
    QList<xcb_atom_t> offered(targets->size() / qsizetype(sizeof(xcb_atom_t)));
    memcpy(offered.data(), targets->constData(), offered.size() * sizeof(xcb_atom_t));

    const xcb_atom_t utf8 = atom("UTF8_STRING");
    const xcb_atom_t textForms[] = {utf8, XCB_ATOM_STRING, atom("TEXT")};
    xcb_atom_t bestText = XCB_NONE;
    for (const xcb_atom_t form : textForms) {
        if (bestText == XCB_NONE && offered.contains(form))
            bestText = form;
    }
    QStringList result;
    for (const xcb_atom_t target : offered) {
        const QByteArray name = atomName(target);
        if (name.isEmpty() || kSkippedTargets.contains(name))
            continue;
        const bool textForm =
            std::find(std::begin(textForms), std::end(textForms), target) != std::end(textForms);
        const QString format = textForm ? kTextFormat : QString::fromLatin1(name);
        if (m_sources.contains(format))
            continue;
        m_sources.insert(format, textForm ? Source{bestText, bestText != utf8} : Source{target, false});
        result << format;
    }
    return result;
}

std::optional<QByteArray> X11SelectionTransfer::fetch(const QString& format, qsizetype cap,
                                                      Clock::time_point deadline) {
    const Source source = m_sources.value(format);
    if (source.target == XCB_NONE)
        return std::nullopt;
    auto bytes = fetchTarget(source.target, cap, deadline);
    if (bytes && source.latin1)
        return QString::fromLatin1(*bytes).toUtf8();
    return bytes;
}

bool X11SelectionTransfer::hasOwner() {
    Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(m_xcb, xcb_get_selection_owner(m_xcb, m_clipboard), nullptr));
    return !reply || reply->owner != XCB_NONE;
}

bool X11SelectionTransfer::createWindow() {
    const xcb_setup_t* setup = xcb_get_setup(m_xcb);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < m_screen && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return false;
    m_window = xcb_generate_id(m_xcb);
    const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(m_xcb, XCB_COPY_FROM_PARENT, m_window, screens.data->root, 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    return xcb_flush(m_xcb) > 0;
}

xcb_atom_t X11SelectionTransfer::atom(const QByteArray& name) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        m_xcb, xcb_intern_atom(m_xcb, 0, static_cast<uint16_t>(name.size()), name.constData()), nullptr));
    return reply ? reply->atom : XCB_NONE;
}

QByteArray X11SelectionTransfer::atomName(xcb_atom_t atom) {
    Reply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(m_xcb, xcb_get_atom_name(m_xcb, atom), nullptr));
    if (!reply)
        return {};
    return QByteArray(xcb_get_atom_name_name(reply.value), xcb_get_atom_name_name_length(reply.value));
}

// The next event the predicate accepts, or none at `deadline`; other events are dropped.
template <typename Accept>
xcb_generic_event_t* X11SelectionTransfer::waitFor(Clock::time_point deadline, Accept accept) {
    for (;;) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_xcb)) {
            if (accept(event))
                return event;
            free(event);
        }
        if (xcb_connection_has_error(m_xcb))
            return nullptr;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return nullptr;
        pollfd fd{xcb_get_file_descriptor(m_xcb), POLLIN, 0};
        poll(&fd, 1, static_cast<int>(left.count()) + 1);
    }
}

// Asks the owner for `target` into a property of its own (a transfer given up on cannot then be
// mistaken for a later one) and reads it; empty when the owner refuses, none when it does not
// come in time or is larger than `cap`.
std::optional<QByteArray> X11SelectionTransfer::fetchTarget(xcb_atom_t target, qsizetype cap,
                                                            Clock::time_point deadline) {
    const xcb_atom_t property = atom("_QUILLPOINT_SAVE_" + QByteArray::number(m_nextProperty++));
    if (cap <= 0)
        return std::nullopt;
    xcb_convert_selection(m_xcb, m_window, m_clipboard, target, property, XCB_CURRENT_TIME);
    xcb_flush(m_xcb);
    // An owner that does not answer for one format costs a share of the budget, not all of it;
    // a late answer to a request given up on names another property.
    const Clock::time_point answerBy = std::min(deadline, Clock::now() + m_timeBudget / 4);
    xcb_generic_event_t* event = waitFor(answerBy, [this, target, property](xcb_generic_event_t* e) {
        if ((e->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
            return false;
        const auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(e);
        return notify->requestor == m_window && notify->target == target &&
               (notify->property == property || notify->property == XCB_NONE);
    });
    if (!event)
        return std::nullopt;
    const xcb_atom_t answered = reinterpret_cast<xcb_selection_notify_event_t*>(event)->property;
    free(event);
    if (answered == XCB_NONE)
        return QByteArray();

    Reply<xcb_get_property_reply_t> head(xcb_get_property_reply(
        m_xcb, xcb_get_property(m_xcb, 0, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    if (!head)
        return std::nullopt;
    if (head->type == m_incr)
        return fetchIncrementally(property, cap, deadline);
    if (head->bytes_after > static_cast<uint32_t>(cap)) {
        xcb_delete_property(m_xcb, m_window, property);
        xcb_flush(m_xcb);
        return std::nullopt;
    }
    return takeProperty(property, head->bytes_after);
}

std::optional<QByteArray> X11SelectionTransfer::takeProperty(xcb_atom_t property, uint32_t size) {
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_xcb, xcb_get_property(m_xcb, 1, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, (size + 3) / 4),
        nullptr));
    if (!reply)
        return std::nullopt;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.value)),
                      xcb_get_property_value_length(reply.value));
}

// The owner sends large data in pieces, each once the last was taken (ICCCM 2.7.2). The size it
// announces is only a lower bound, and some owners (xclip) announce none.
std::optional<QByteArray> X11SelectionTransfer::fetchIncrementally(xcb_atom_t property, qsizetype cap,
                                                                   Clock::time_point deadline) {
    const auto announced = takeProperty(property, 4);
    if (!announced)
        return std::nullopt;
    uint32_t lowerBound = 0;
    if (announced->size() >= 4)
        memcpy(&lowerBound, announced->constData(), 4);
    // Taking the announcement asks for the first piece; a size over the cap is never asked for.
    if (lowerBound > static_cast<uint32_t>(cap))
        return std::nullopt;
    QByteArray data;
    for (;;) {
        xcb_generic_event_t* event = waitFor(deadline, [this, property](xcb_generic_event_t* e) {
            if ((e->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                return false;
            const auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(e);
            return notify->window == m_window && notify->atom == property &&
                   notify->state == XCB_PROPERTY_NEW_VALUE;
        });
        if (!event)
            return std::nullopt;
        free(event);
        Reply<xcb_get_property_reply_t> head(xcb_get_property_reply(
            m_xcb, xcb_get_property(m_xcb, 0, m_window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
        if (!head)
            return std::nullopt;
        if (data.size() + qsizetype(head->bytes_after) > cap)
            return std::nullopt;
        const auto piece = takeProperty(property, head->bytes_after);
        if (!piece)
            return std::nullopt;
        if (piece->isEmpty())
            return data;
        data += *piece;
    }
}

} // namespace quill
