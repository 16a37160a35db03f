#include "WaylandSessionProbe.h"

#include "BoundedRoundtrip.h"
#include "KWinQuery.h"

#include <cstring>
#include <wayland-client.h>

namespace quill::wayland {
namespace {

void global(void* data, wl_registry*, uint32_t, const char* interface, uint32_t) {
    auto* facts = static_cast<WaylandFacts*>(data);
    if (std::strcmp(interface, "zwlr_data_control_manager_v1") == 0)
        facts->dataControl = true;
    else if (std::strcmp(interface, "zwp_virtual_keyboard_manager_v1") == 0)
        facts->virtualKeyboard = true;
}
void globalRemove(void*, wl_registry*, uint32_t) {}
constexpr wl_registry_listener kListener{&global, &globalRemove};

} // namespace

WaylandFacts probe() {
    WaylandFacts facts;
    if (wl_display* display = wl_display_connect(nullptr)) {
        facts.connected = true;
        wl_registry* registry = wl_display_get_registry(display);
        wl_registry_add_listener(registry, &kListener, &facts);
        boundedRoundtrip(display, std::chrono::steady_clock::now() + std::chrono::seconds(1));
        wl_registry_destroy(registry);
        wl_display_disconnect(display);
    }
    facts.kwinScripting = KWinQuery::isAvailable();
    facts.answered = true;
    return facts;
}

} // namespace quill::wayland
