// The yardstick of bench/footprint.sh: the least a Qt 6 tray program with a global shortcut
// needs, a tray icon and one X11 key grab (Ctrl+2), waiting for the key.

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <cstdio>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    auto* x11 = app.nativeInterface<QNativeInterface::QX11Application>();
    if (!x11) {
        std::fprintf(stderr, "bare_tray: needs an X11 session\n");
        return 1;
    }
    xcb_connection_t* connection = x11->connection();
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, '2');
    if (codes && codes[0] != XCB_NO_SYMBOL)
        xcb_grab_key(connection, 1, root, XCB_MOD_MASK_CONTROL, codes[0], XCB_GRAB_MODE_ASYNC,
                     XCB_GRAB_MODE_ASYNC);
    free(codes);
    xcb_key_symbols_free(symbols);
    xcb_flush(connection);

    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::darkCyan);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.show();
    return app.exec();
}
