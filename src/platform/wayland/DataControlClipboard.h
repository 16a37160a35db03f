#pragma once

#include "platform/Clipboard.h"

#include <memory>
#include <mutex>

namespace quill {

class DataControlConnection;

// The clipboard and the primary selection of a Wayland seat through wlr data-control, which
// lets a client without keyboard focus read and set both. KWin's XWayland bridge hands an X11
// client's selection to Wayland clients only while an X11 window has the focus, so a program
// that pastes into a native Wayland window must own the Wayland selection itself.
//
// The Wayland connection is our own and runs on a thread of its own: the GUI thread never waits
// on the compositor, and our contents are served while the GUI thread is busy. Reads of another
// client's contents are bounded as the interface asks. Contents we hold when the program ends
// live on in the keeper program, as the compositor forgets a client's clipboard with the client.
class DataControlClipboard final : public Clipboard {
    Q_OBJECT
public:
    // None when no compositor is at WAYLAND_DISPLAY or it answers that it offers no data-control.
    // Without a keeper program our contents end with the program.
    static std::unique_ptr<DataControlClipboard> create(QString keeperProgram = {});
    ~DataControlClipboard() override;

    ClipboardContents readAll(const ClipboardReadLimits& limits) override;
    std::optional<QString> text() override;
    void clear() override;
    void setText(const QString& text) override;
    void setFormats(const QList<ClipboardFormat>& formats) override;
    std::optional<QString> selectionText() override;
    void setSelectionText(const QString& text) override;
    void keepAfterExit() override;

    // The MIME types a text is offered as, and the order text is looked for in an offer.
    static const QStringList& textMimeTypes();

private:
    DataControlClipboard(std::shared_ptr<DataControlConnection> connection, QString keeperProgram);
    std::optional<QString> textOf(bool primary);

    // What the connection's thread may still reach of this object, under its mutex: it may
    // outlive the object when the destructor's call to that thread times out.
    struct Notifier {
        explicit Notifier(DataControlClipboard* target) : clipboard(target) {}
        std::mutex mutex;
        DataControlClipboard* clipboard;
    };

    std::shared_ptr<DataControlConnection> m_connection;
    std::shared_ptr<Notifier> m_notifier;
    QString m_keeperProgram;
};

} // namespace quill
