#pragma once

#include "Clipboard.h"

#include <memory>

class QMimeData;

namespace quill {

// QGuiApplication's clipboard; the contents this process sets are served by its event loop,
// which announces each time another program reads them. Qt fetches another owner's formats one
// at a time and waits up to seconds for each, so `readAll` here holds to the caps but can overrun
// its time budget; X11Clipboard cannot.
class QtClipboard : public Clipboard {
    Q_OBJECT
public:
    // `desktopReads`: how many times the desktop itself reads each new content as it arrives,
    // whoever pastes; those reads are not announced, as they tell nothing of a paste.
    explicit QtClipboard(int desktopReads = 0, QObject* parent = nullptr);
    ClipboardContents readAll(const ClipboardReadLimits& limits) override;
    std::optional<QString> text() override;
    void clear() override;
    void setText(const QString& text) override;
    void setFormats(const QList<ClipboardFormat>& formats) override;
    std::optional<QString> selectionText() override;
    void setSelectionText(const QString& text) override;

private:
    std::unique_ptr<QMimeData> servedData();

    const int m_desktopReads;
    // Our own reads of our own contents are no other program's.
    bool m_readingOwn = false;
};

} // namespace quill
