#pragma once

#include "platform/QtClipboard.h"

#include <xcb/xcb.h>

namespace quill {

// Qt's clipboard, except that another owner's contents are read over an X connection of their
// own, on a thread of their own, within the limits given: Qt would wait up to five seconds per
// format on the GUI thread and copy any size whole. Contents we hold when the program ends
// live on in `keeperProgram` where no clipboard manager takes them. `desktopReads` as for
// QtClipboard.
class X11Clipboard final : public QtClipboard {
    Q_OBJECT
public:
    X11Clipboard(xcb_connection_t* connection, QString keeperProgram, int desktopReads = 0,
                 QObject* parent = nullptr);
    ClipboardContents readAll(const ClipboardReadLimits& limits) override;
    void keepAfterExit() override;

private:
    bool hasClipboardManager();

    xcb_connection_t* m_connection;
    QString m_keeperProgram;
};

} // namespace quill
