#include "BoundedRoundtrip.h"

#include <cerrno>
#include <poll.h>
#include <wayland-client.h>

namespace quill {
namespace {

void onDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}

constexpr wl_callback_listener kDoneListener{&onDone};

} // namespace

bool boundedRoundtrip(wl_display* display, std::chrono::steady_clock::time_point deadline) {
    using namespace std::chrono;
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    if (!callback)
        return false;
    wl_callback_add_listener(callback, &kDoneListener, &done);
    const int fd = wl_display_get_fd(display);
    bool failed = false;
    while (!done && !failed) {
        while (!failed && wl_display_prepare_read(display) != 0)
            failed = wl_display_dispatch_pending(display) < 0;
        if (failed || done) {
            if (!failed)
                wl_display_cancel_read(display);
            break;
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            break;
        }
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        pollfd watched{fd, POLLIN, 0};
        const int ready = left > 0 ? ::poll(&watched, 1, int(left)) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(display);
            if (ready == 0 || errno != EINTR)
                failed = true;
            continue;
        }
        failed = wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0;
    }
    // Destroyed in every case, so a late answer finds no listener pointing at this frame.
    wl_callback_destroy(callback);
    return done;
}

} // namespace quill
