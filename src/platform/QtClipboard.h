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
    // Until the desktop's first read of the contents last set: it reads them once it offers them.
    bool desktopTakingUp() const override;

private:
    std::unique_ptr<QMimeData> servedData();

    const int m_desktopReads;
    // The desktop's reads of the current contents still to come. Qt drops earlier contents when
    // new ones are set, so every read served is of the current ones.
    int m_desktopReadsDue = 0;
    // Our own reads of our own contents are no other program's.
    bool m_readingOwn = false;
};

} // namespace quill
