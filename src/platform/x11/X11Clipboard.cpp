#include "X11Clipboard.h"

#include "X11SelectionTransfer.h"
#include "platform/ClipboardKeeperFile.h"
#include "platform/ClipboardReader.h"
#include "platform/Log.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <cstdlib>
#include <limits>

namespace quill {
namespace {

// How long the program waits, as it ends, for the keeper to take the clipboard over.
constexpr qint64 kHandOverMs = 3000;

void log(const QString& message) {
    logLine(lcCapture(), QStringLiteral("X11Clipboard"), message);
}

} // namespace

X11Clipboard::X11Clipboard(xcb_connection_t* connection, QString keeperProgram, int desktopReads,
                           QObject* parent)
    : QtClipboard(desktopReads, parent)
    , m_connection(connection)
    , m_keeperProgram(std::move(keeperProgram)) {}

ClipboardContents X11Clipboard::readAll(const ClipboardReadLimits& limits) {
    // Our own contents are at hand; asking through the server would need this very thread.
    if (QGuiApplication::clipboard()->ownsClipboard())
        return QtClipboard::readAll(limits);
    return ClipboardReader(limits).read(std::make_unique<X11SelectionTransfer>(limits.timeBudget));
}

bool X11Clipboard::hasClipboardManager() {
    if (!m_connection)
        return false;
    static constexpr char name[] = "CLIPBOARD_MANAGER";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 1, sizeof name - 1, name), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    free(atom);
    if (selection == XCB_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner = xcb_get_selection_owner_reply(
        m_connection, xcb_get_selection_owner(m_connection, selection), nullptr);
    const bool running = owner && owner->owner != XCB_NONE;
    free(owner);
    return running;
}

void X11Clipboard::keepAfterExit() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard->ownsClipboard())
        return;
    // Qt hands the contents to a clipboard manager itself as the application ends.
    if (hasClipboardManager())
        return;
    ClipboardReadLimits everything;
    everything.maxFormatBytes = everything.maxTotalBytes = std::numeric_limits<qsizetype>::max();
    everything.timeBudget = std::chrono::hours(1);
    const ClipboardContents own = QtClipboard::readAll(everything);
    if (own.formats.isEmpty())
        return;

    const QString error = ClipboardKeeperFile::handOver(m_keeperProgram, own.formats);
    if (!error.isEmpty()) {
        log(QStringLiteral("cannot keep the clipboard after quitting: ") + error);
        return;
    }
    // The event loop has ended: take the server's news of the new owner by hand.
    QElapsedTimer elapsed;
    elapsed.start();
    while (clipboard->ownsClipboard() && !elapsed.hasExpired(kHandOverMs)) {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    if (clipboard->ownsClipboard())
        log(QStringLiteral("the clipboard keeper did not take the clipboard over in time"));
}

} // namespace quill
