// quillpoint-clipboard-keeper FILE: keeps the clipboard contents Quillpoint held when it quit,
// where no clipboard manager takes them over, and serves them until another program copies,
// as xclip does. FILE is a ClipboardKeeperFile.
#include "platform/ClipboardKeeperFile.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QTimer>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

// Qt ignores losing the clipboard to an owner that took it with the very timestamp we took it
// with, and would then keep us running for ever believing we still hold it. The server sends
// SelectionClear only to the owner that lost the selection, so any such event for CLIPBOARD ends
// the keeper.
class SelectionLossFilter final : public QAbstractNativeEventFilter {
public:
    explicit SelectionLossFilter(xcb_atom_t clipboard) : m_clipboard(clipboard) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) == XCB_SELECTION_CLEAR &&
            reinterpret_cast<const xcb_selection_clear_event_t*>(event)->selection == m_clipboard)
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return false;
    }

private:
    xcb_atom_t m_clipboard;
};

xcb_atom_t clipboardAtom(xcb_connection_t* connection) {
    static constexpr char name[] = "CLIPBOARD";
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof name - 1, name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : XCB_NONE;
    free(reply);
    return atom;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "xcb");
    const QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const auto formats = quill::ClipboardKeeperFile::take(QString::fromLocal8Bit(argv[1]));
    if (!formats)
        return 1;

    auto data = std::make_unique<QMimeData>();
    for (const auto& [format, bytes] : *formats)
        data->setData(format, bytes);
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(data.release());
    if (!clipboard->ownsClipboard())
        return 1;
    QObject::connect(clipboard, &QClipboard::dataChanged, &app, [clipboard] {
        if (!clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    const auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return 1;
    SelectionLossFilter filter(clipboardAtom(x11->connection()));
    QGuiApplication::instance()->installNativeEventFilter(&filter);
    return QGuiApplication::exec();
}
