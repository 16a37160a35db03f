#pragma once

#include "platform/QtClipboard.h"

namespace quill {

// Qt's clipboard, except that another owner's contents are read over an X connection of their
// own, on a thread of their own, within the limits given: Qt would wait up to five seconds per
// format on the GUI thread and copy any size whole.
class X11Clipboard final : public QtClipboard {
    Q_OBJECT
public:
    using QtClipboard::QtClipboard;
    ClipboardContents readAll(const ClipboardReadLimits& limits) override;
};

} // namespace quill
