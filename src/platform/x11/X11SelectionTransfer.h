#pragma once

#include "platform/ClipboardTransfer.h"

#include <QHash>
#include <xcb/xcb.h>

namespace quill {

// The CLIPBOARD selection's owner asked through one requestor window on an X connection of our
// own, opened on the reader's thread when the formats are first asked for. Every wait is bounded
// by the deadline.
class X11SelectionTransfer final : public ClipboardTransfer {
public:
    explicit X11SelectionTransfer(std::chrono::milliseconds timeBudget);
    ~X11SelectionTransfer() override;
    X11SelectionTransfer(const X11SelectionTransfer&) = delete;
    X11SelectionTransfer& operator=(const X11SelectionTransfer&) = delete;

    // Qt names the text forms "text/plain" and reads them as UTF-8; so does this, from the best
    // form offered. Every other target keeps its own name.
    std::optional<QStringList> formats(Clock::time_point deadline) override;
    std::optional<QByteArray> fetch(const QString& format, qsizetype cap,
                                    Clock::time_point deadline) override;

private:
    bool createWindow();
    xcb_atom_t atom(const QByteArray& name);
    QByteArray atomName(xcb_atom_t atom);
    template <typename Accept> xcb_generic_event_t* waitFor(Clock::time_point deadline, Accept accept);
    std::optional<QByteArray> fetchTarget(xcb_atom_t target, qsizetype cap, Clock::time_point deadline);
    std::optional<QByteArray> takeProperty(xcb_atom_t property, uint32_t size);
    std::optional<QByteArray> fetchIncrementally(xcb_atom_t property, qsizetype cap,
                                                 Clock::time_point deadline);
    bool hasOwner();

    const std::chrono::milliseconds m_timeBudget;
    int m_screen = 0;
    xcb_connection_t* m_xcb = nullptr;
    xcb_window_t m_window = XCB_NONE;
    xcb_atom_t m_clipboard = XCB_NONE;
    xcb_atom_t m_incr = XCB_NONE;
    // What each format is fetched from, and whether it comes as Latin-1 text to be made UTF-8.
    struct Source {
        xcb_atom_t target = XCB_NONE;
        bool latin1 = false;
    };
    QHash<QString, Source> m_sources;
    // Each transfer gets a property of its own.
    int m_nextProperty = 1;
};

} // namespace quill
