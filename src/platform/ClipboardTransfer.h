#pragma once

#include "Clipboard.h"

#include <QStringList>
#include <chrono>
#include <optional>

namespace quill {

// One window system's way to another owner's clipboard contents, for ClipboardReader. It is
// made on the caller's thread and then used, and destroyed, on the reader's thread only, so it
// may block on the owner and connect to the display there.
class ClipboardTransfer {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~ClipboardTransfer() = default;
    // The formats the owner offers, in its order, under the names the reader reports them by;
    // empty when there is no owner, none when the owner cannot be asked or does not answer by
    // `deadline`.
    virtual std::optional<QStringList> formats(Clock::time_point deadline) = 0;
    // All of one format's bytes, empty when the owner refuses it; none when they do not arrive
    // by `deadline` or exceed `cap`.
    virtual std::optional<QByteArray> fetch(const QString& format, qsizetype cap,
                                            Clock::time_point deadline) = 0;
};

} // namespace quill
