#pragma once

#include "platform/SessionProbe.h"

namespace quill::wayland {

// Connects to the compositor at WAYLAND_DISPLAY and lists what it offers; asks KWin whether its
// scripting answers. Changes nothing.
WaylandFacts probe();

} // namespace quill::wayland
