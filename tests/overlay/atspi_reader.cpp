// An assistive technology in miniature: finds the application with the given process id on
// the accessibility bus, listens to all of its object and window events, and walks its whole
// tree over and over with every cache off, reading names, roles, states, text and extents, and
// every few walks presses the first showing button whose name is given. Runs until SIGTERM or
// until the application leaves the bus; prints "ready" once it found the application and, at
// the end, how many walks, nodes, events and presses it made.
//
//   quill_atspi_reader PID [BUTTON_NAME]

#include <atspi/atspi.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <glib-unix.h>
#include <initializer_list>

namespace {

struct Reader {
    guint pid = 0;
    const char* pressName = nullptr;
    AtspiAccessible* app = nullptr;
    GMainLoop* loop = nullptr;
    long walks = 0;
    long nodes = 0;
    long events = 0;
    long presses = 0;
    int missing = 0;
};

void clear(GError** error) {
    if (*error)
        g_error_free(*error);
    *error = nullptr;
}

AtspiAccessible* findApplication(guint pid) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    if (!desktop)
        return nullptr;
    AtspiAccessible* found = nullptr;
    GError* error = nullptr;
    const int count = atspi_accessible_get_child_count(desktop, &error);
    clear(&error);
    for (int i = 0; i < count && !found; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, &error);
        clear(&error);
        if (!app)
            continue;
        if (atspi_accessible_get_process_id(app, &error) == pid && !error)
            found = app;
        else
            g_object_unref(app);
        clear(&error);
    }
    g_object_unref(desktop);
    return found;
}

bool isShowing(AtspiAccessible* node) {
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    if (!states)
        return false;
    const bool showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    g_object_unref(states);
    return showing;
}

void readNode(Reader& reader, AtspiAccessible* node, bool& pressed) {
    ++reader.nodes;
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(node, &error);
    clear(&error);
    g_free(atspi_accessible_get_role_name(node, &error));
    clear(&error);
    const bool showing = isShowing(node);
    if (AtspiComponent* component = atspi_accessible_get_component_iface(node)) {
        g_free(atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error));
        clear(&error);
        g_object_unref(component);
    }
    if (AtspiText* text = atspi_accessible_get_text_iface(node)) {
        const int length = atspi_text_get_character_count(text, &error);
        clear(&error);
        g_free(atspi_text_get_text(text, 0, length, &error));
        clear(&error);
        g_object_unref(text);
    }
    if (AtspiAction* action = atspi_accessible_get_action_iface(node)) {
        const int actions = atspi_action_get_n_actions(action, &error);
        clear(&error);
        if (!pressed && reader.pressName && name && showing && actions > 0 &&
            std::strcmp(name, reader.pressName) == 0) {
            atspi_action_do_action(action, 0, &error);
            clear(&error);
            pressed = true;
            ++reader.presses;
        }
        g_object_unref(action);
    }
    g_free(name);

    const int count = atspi_accessible_get_child_count(node, &error);
    clear(&error);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, &error);
        clear(&error);
        if (!child)
            continue;
        readNode(reader, child, pressed);
        g_object_unref(child);
    }
}

gboolean walk(gpointer data) {
    auto& reader = *static_cast<Reader*>(data);
    if (!reader.app) {
        reader.app = findApplication(reader.pid);
        if (!reader.app) {
            // The application is gone from the bus (or has not arrived yet).
            if (reader.walks > 0 && ++reader.missing > 50) {
                g_main_loop_quit(reader.loop);
                return G_SOURCE_REMOVE;
            }
            return G_SOURCE_CONTINUE;
        }
        atspi_accessible_set_cache_mask(reader.app, ATSPI_CACHE_NONE);
        if (reader.walks == 0) {
            std::printf("ready\n");
            std::fflush(stdout);
        }
    }
    atspi_accessible_clear_cache(reader.app);
    bool pressed = (reader.walks % 3) != 0;
    readNode(reader, reader.app, pressed);
    ++reader.walks;
    g_clear_object(&reader.app);
    return G_SOURCE_CONTINUE;
}

void onEvent(AtspiEvent* event, void* data) {
    auto& reader = *static_cast<Reader*>(data);
    ++reader.events;
    if (event->source) {
        GError* error = nullptr;
        g_free(atspi_accessible_get_name(event->source, &error));
        clear(&error);
        g_free(atspi_accessible_get_role_name(event->source, &error));
        clear(&error);
    }
}

gboolean quit(gpointer data) {
    g_main_loop_quit(static_cast<Reader*>(data)->loop);
    return G_SOURCE_REMOVE;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PID [BUTTON_NAME]\n", argv[0]);
        return 2;
    }
    if (atspi_init() < 0) {
        std::fprintf(stderr, "no accessibility bus\n");
        return 1;
    }
    Reader reader;
    reader.pid = static_cast<guint>(std::strtoul(argv[1], nullptr, 10));
    reader.pressName = argc > 2 ? argv[2] : nullptr;
    reader.loop = g_main_loop_new(nullptr, FALSE);

    AtspiEventListener* listener = atspi_event_listener_new(onEvent, &reader, nullptr);
    for (const char* type : {"object:", "window:", "focus:"})
        atspi_event_listener_register(listener, type, nullptr);

    g_unix_signal_add(SIGTERM, quit, &reader);
    g_unix_signal_add(SIGINT, quit, &reader);
    g_timeout_add(2, walk, &reader);
    g_main_loop_run(reader.loop);

    std::printf("walks %ld nodes %ld events %ld presses %ld\n", reader.walks, reader.nodes, reader.events,
                reader.presses);
    std::fflush(stdout);
    g_clear_object(&reader.app);
    g_object_unref(listener);
    g_main_loop_unref(reader.loop);
    return 0;
}
