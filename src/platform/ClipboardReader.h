#pragma once

#include "Clipboard.h"
#include "ClipboardTransfer.h"

#include <memory>

namespace quill {

// Reads another owner's clipboard contents within the limits: the transfer runs on a thread of
// its own while the caller's event loop handles everything but user input, so a slow or hung
// owner neither freezes the program nor, past the caps, fills its memory. Shortly after the
// time budget the caller stops waiting and gets nothing; the thread finishes on its own.
class ClipboardReader {
public:
    explicit ClipboardReader(const ClipboardReadLimits& limits);

    // Each format the transfer offers, in its order, as far as the caps and the time budget
    // allow; empty formats are left out. Incomplete when a format was left out for the limits.
    ClipboardContents read(std::unique_ptr<ClipboardTransfer> transfer) const;

private:
    ClipboardReadLimits m_limits;
};

} // namespace quill
