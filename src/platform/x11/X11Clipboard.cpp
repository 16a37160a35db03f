#include "X11Clipboard.h"

#include "X11SelectionTransfer.h"
#include "platform/ClipboardReader.h"

#include <QClipboard>
#include <QGuiApplication>

namespace quill {

ClipboardContents X11Clipboard::readAll(const ClipboardReadLimits& limits) {
    // Our own contents are at hand; asking through the server would need this very thread.
    if (QGuiApplication::clipboard()->ownsClipboard())
        return QtClipboard::readAll(limits);
    return ClipboardReader(limits).read(std::make_unique<X11SelectionTransfer>(limits.timeBudget));
}

} // namespace quill
