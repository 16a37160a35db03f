#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <chrono>
#include <optional>

namespace quill {

// One format of the clipboard's contents and its bytes, as the owner handed them out.
using ClipboardFormat = QPair<QString, QByteArray>;

// How much reading the whole clipboard may cost. A healthy owner hands out every format in a
// few milliseconds; a hung or hostile one must not freeze the program or fill its memory.
struct ClipboardReadLimits {
    std::chrono::milliseconds timeBudget{1000}; // for all formats together
    qsizetype maxFormatBytes = qsizetype{16} * 1024 * 1024;
    qsizetype maxTotalBytes = qsizetype{32} * 1024 * 1024;
};

// What reading the whole clipboard got. Incomplete when anything the owner offers is missing:
// a format over a cap, one that did not arrive within the time budget, or an owner that did not
// say what it offers; then the formats cannot stand in for the clipboard.
struct ClipboardContents {
    QList<ClipboardFormat> formats;
    bool complete = true;
};

// The desktop clipboard (the CLIPBOARD selection) and the primary selection.
class Clipboard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // The formats and bytes the clipboard holds, in the owner's order, as far as `limits` allow:
    // a format that does not arrive within the time budget, or that would exceed a cap, is left
    // out and makes the result incomplete. Events other than user input are handled while it
    // waits. Empty formats, and formats the owner refuses to hand out, are left out.
    virtual ClipboardContents readAll(const ClipboardReadLimits& limits) = 0;
    // The plain-text value; none when the clipboard holds no text.
    virtual std::optional<QString> text() = 0;
    virtual void clear() = 0;
    virtual void setText(const QString& text) = 0;
    // Replaces the contents with exactly these formats and bytes.
    virtual void setFormats(const QList<ClipboardFormat>& formats) = 0;
    // The primary selection (the text last selected anywhere); none when it holds no text.
    virtual std::optional<QString> selectionText() = 0;
    virtual void setSelectionText(const QString& text) = 0;
    // As the program ends: contents it holds that would go with it are handed to whoever keeps
    // them afterwards (a clipboard manager, a keeper process). Returns once they have been.
    virtual void keepAfterExit() {}
    // Whether the desktop has yet to take up the contents this program last set. A desktop that
    // relays them to other windows (GNOME, from XWayland to its Wayland windows) offers them there
    // a moment later: a paste sent sooner finds the previous contents, or none.
    virtual bool desktopTakingUp() const { return false; }

signals:
    // The clipboard's contents changed, whoever changed them.
    void changed();
    // Another program read data from contents this program put on the clipboard.
    void contentsRead();
};

} // namespace quill
