// Prints the name of every list item that the application with the given process id shows on the
// accessibility bus, each ended by a NUL (a name may span lines), as a screen reader reads them; waits up to
// ten seconds for the application and its first item to appear. Exits 1 when none appeared.
//
//   history_atspi_names PID

#include <atspi/atspi.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

void clear(GError** error) {
    if (*error)
        g_error_free(*error);
    *error = nullptr;
}

AtspiAccessible* findApplication(int pid) {
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
        if (int(atspi_accessible_get_process_id(app, &error)) == pid && !error)
            found = app;
        else
            g_object_unref(app);
        clear(&error);
    }
    g_object_unref(desktop);
    return found;
}

void collect(AtspiAccessible* node, std::vector<std::string>& names) {
    GError* error = nullptr;
    if (atspi_accessible_get_role(node, &error) == ATSPI_ROLE_LIST_ITEM) {
        if (gchar* name = atspi_accessible_get_name(node, &error)) {
            names.emplace_back(name);
            g_free(name);
        }
    }
    clear(&error);
    const int count = atspi_accessible_get_child_count(node, &error);
    clear(&error);
    for (int i = 0; i < count; ++i) {
        if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, &error)) {
            collect(child, names);
            g_object_unref(child);
        }
        clear(&error);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 || atspi_init() < 0)
        return 2;
    const int pid = std::atoi(argv[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (AtspiAccessible* app = findApplication(pid)) {
            atspi_accessible_set_cache_mask(app, ATSPI_CACHE_NONE);
            std::vector<std::string> names;
            collect(app, names);
            g_object_unref(app);
            if (!names.empty()) {
                for (const std::string& name : names)
                    std::fwrite(name.c_str(), 1, name.size() + 1, stdout);
                return 0;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return 1;
}
