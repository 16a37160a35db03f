// Time from an XTEST key press to the shortcut's trigger closure running on the main thread.
// Run inside the test desktop:
//   scripts/test-desktop.sh run --no-pulse -- build/<dir>/bench/shortcut_latency [presses]
#include "platform/PlatformNull.h"
#include "platform/x11/X11KeyGrabber.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QDeadlineTimer>
#include <QGuiApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    const int presses = argc > 1 ? std::atoi(argv[1]) : 200;
    constexpr int warmup = 10;

    // The keyboard, as seen by a separate client, like a real one would be.
    xcb_connection_t* keyboard = xcb_connect(nullptr, nullptr);
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(keyboard);
    xcb_keycode_t* control = xcb_key_symbols_get_keycode(symbols, 0xffe3);
    xcb_keycode_t* one = xcb_key_symbols_get_keycode(symbols, 0x31);
    if (xcb_connection_has_error(keyboard) || !control || !one) {
        std::fprintf(stderr, "no X server with Control_L and 1\n");
        return 1;
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(keyboard)).data->root;
    auto key = [&](uint8_t type, xcb_keycode_t code) {
        xcb_test_fake_input(keyboard, type, code, XCB_CURRENT_TIME, root, 0, 0, 0);
    };

    Clock::time_point triggeredAt;
    bool triggered = false;
    int triggers = 0;
    quill::X11KeyGrabber grabber(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    quill::NullKeyboardLayout layout;
    const quill::ShortcutNames names(layout);
    quill::ShortcutRegistry registry(grabber, names);
    quill::GlobalShortcutService service(quill::Shortcut{18, quill::modifier::ctrl}, registry);
    QObject::connect(&service, &quill::GlobalShortcutService::triggered, &service, [&] {
        triggeredAt = Clock::now();
        triggered = true;
        ++triggers;
    });
    service.registerShortcut();
    if (!service.isRegistered()) {
        std::fprintf(stderr, "%s\n", qPrintable(service.registrationError().value_or(QString())));
        return 1;
    }

    std::vector<double> micros;
    for (int i = 0; i < warmup + presses; ++i) {
        triggered = false;
        key(XCB_KEY_PRESS, control[0]);
        xcb_flush(keyboard);
        const Clock::time_point pressedAt = Clock::now();
        key(XCB_KEY_PRESS, one[0]);
        xcb_flush(keyboard);
        QDeadlineTimer deadline(2000);
        while (!triggered && !deadline.hasExpired())
            app.processEvents(QEventLoop::WaitForMoreEvents, 5);
        key(XCB_KEY_RELEASE, one[0]);
        key(XCB_KEY_RELEASE, control[0]);
        std::free(xcb_get_input_focus_reply(keyboard, xcb_get_input_focus(keyboard), nullptr));
        app.processEvents();
        if (!triggered) {
            std::fprintf(stderr, "press %d never triggered\n", i);
            return 1;
        }
        if (i >= warmup)
            micros.push_back(std::chrono::duration<double, std::micro>(triggeredAt - pressedAt).count());
    }

    if (triggers != warmup + presses) {
        std::fprintf(stderr, "%d presses gave %d triggers\n", warmup + presses, triggers);
        return 1;
    }
    std::sort(micros.begin(), micros.end());
    const auto at = [&](double quantile) { return micros[size_t(quantile * double(micros.size() - 1))]; };
    std::printf("shortcut latency over %d presses: median %.0f us, p99 %.0f us, max %.0f us\n", presses,
                at(0.5), at(0.99), micros.back());
    std::free(control);
    std::free(one);
    xcb_key_symbols_free(symbols);
    xcb_disconnect(keyboard);
    return 0;
}
