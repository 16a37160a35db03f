#pragma once

#include "platform/Clipboard.h"

#include <optional>

namespace quill {

// How the clipboard's contents reach the keeper process that holds them once the program has
// ended: a file only the user can read, in the runtime directory, that the keeper removes as it
// opens it. It holds every format byte for byte (a QDataStream of the format list).
class ClipboardKeeperFile {
public:
    // Writes `formats` to a new file and starts `program FILE` detached. Empty on success,
    // else why not; then no file is left behind.
    static QString handOver(const QString& program, const QList<ClipboardFormat>& formats);
    // Opens and removes the file at `path`, then reads it; none when it cannot be read whole or
    // holds nothing.
    static std::optional<QList<ClipboardFormat>> take(const QString& path);
};

} // namespace quill
