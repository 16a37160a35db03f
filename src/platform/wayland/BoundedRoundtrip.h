#pragma once

#include <chrono>

struct wl_display;

namespace quill {

// wl_display_roundtrip with an end: true once the compositor has answered everything sent
// before, false on an error or when `deadline` passed first. A compositor that accepts the
// connection and then never answers must not hold up whoever waits. Events that arrive are
// dispatched on the calling thread, as wl_display_roundtrip does.
bool boundedRoundtrip(wl_display* display, std::chrono::steady_clock::time_point deadline);

} // namespace quill
