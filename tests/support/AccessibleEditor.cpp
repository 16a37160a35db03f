#include "AccessibleEditor.h"

#include <atspi/atspi.h>

namespace quill::test {

namespace {

bool hasState(AtspiAccessible* node, AtspiStateType state) {
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool has = states && atspi_state_set_contains(states, state);
    if (states)
        g_object_unref(states);
    return has;
}

// Walks an application's accessible tree for its first showing, editable text.
AtspiAccessible* findEditable(AtspiAccessible* node, int depth = 0) {
    if (depth > 30)
        return nullptr;
    if (hasState(node, ATSPI_STATE_EDITABLE) && hasState(node, ATSPI_STATE_SHOWING)) {
        if (AtspiText* text = atspi_accessible_get_text_iface(node)) {
            g_object_unref(text);
            return static_cast<AtspiAccessible*>(g_object_ref(node));
        }
    }
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        if (!child)
            continue;
        AtspiAccessible* found = findEditable(child, depth + 1);
        g_object_unref(child);
        if (found)
            return found;
    }
    return nullptr;
}

AtspiAccessible* accessible(void* view) {
    return static_cast<AtspiAccessible*>(view);
}

// The text interface of `view`, given back when it goes out of scope.
class TextOf {
public:
    explicit TextOf(AtspiAccessible* view) : m_text(atspi_accessible_get_text_iface(view)) {}
    ~TextOf() {
        if (m_text)
            g_object_unref(m_text);
    }
    TextOf(const TextOf&) = delete;
    TextOf& operator=(const TextOf&) = delete;
    AtspiText* get() const { return m_text; }

private:
    AtspiText* m_text;
};

// The screen area of the first element under `node` whose text contains `wanted`.
QRect extentsOf(AtspiAccessible* node, const QString& wanted, int depth = 0) {
    if (depth > 30)
        return {};
    if (AtspiText* text = atspi_accessible_get_text_iface(node)) {
        gchar* value = atspi_text_get_text(text, 0, -1, nullptr);
        const bool found = value && QString::fromUtf8(value).contains(wanted);
        g_free(value);
        g_object_unref(text);
        if (found) {
            if (AtspiComponent* component = atspi_accessible_get_component_iface(node)) {
                AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr);
                g_object_unref(component);
                if (rect) {
                    const QRect area(rect->x, rect->y, rect->width, rect->height);
                    g_free(rect);
                    return area;
                }
            }
        }
    }
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count; ++i) {
        if (AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr)) {
            const QRect area = extentsOf(child, wanted, depth + 1);
            g_object_unref(child);
            if (area.isValid())
                return area;
        }
    }
    return {};
}

AtspiAccessible* accessibleApplication(qint64 pid) {
    AtspiAccessible* desktop = atspi_get_desktop(0);
    AtspiAccessible* found = nullptr;
    const int count = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < count && !found; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (app && atspi_accessible_get_process_id(app, nullptr) == pid)
            found = app;
        else if (app)
            g_object_unref(app);
    }
    g_object_unref(desktop);
    return found;
}

} // namespace

QRect accessibleTextExtents(qint64 pid, const QString& wanted) {
    AtspiAccessible* app = accessibleApplication(pid);
    if (!app)
        return {};
    const QRect area = extentsOf(app, wanted);
    g_object_unref(app);
    return area;
}

AccessibleEditor::AccessibleEditor(qint64 pid) : m_pid(pid) {}

AccessibleEditor::~AccessibleEditor() {
    if (m_view)
        g_object_unref(m_view);
}

bool AccessibleEditor::find() {
    if (!m_view) {
        if (AtspiAccessible* app = accessibleApplication(m_pid)) {
            m_view = findEditable(app);
            g_object_unref(app);
        }
    }
    return m_view != nullptr;
}

QString AccessibleEditor::text() {
    const TextOf text(accessible(m_view));
    gchar* value = atspi_text_get_text(text.get(), 0, -1, nullptr);
    QString result = QString::fromUtf8(value);
    g_free(value);
    return result;
}

bool AccessibleEditor::selectAll() {
    const TextOf text(accessible(m_view));
    const int count = atspi_text_get_character_count(text.get(), nullptr);
    atspi_text_remove_selection(text.get(), 0, nullptr);
    return atspi_text_add_selection(text.get(), 0, count, nullptr);
}

bool AccessibleEditor::placeCaretAtEnd() {
    const TextOf text(accessible(m_view));
    atspi_text_remove_selection(text.get(), 0, nullptr);
    return atspi_text_set_caret_offset(text.get(), atspi_text_get_character_count(text.get(), nullptr),
                                       nullptr);
}

bool AccessibleEditor::caretAtEnd() {
    const TextOf text(accessible(m_view));
    return atspi_text_get_caret_offset(text.get(), nullptr) ==
           atspi_text_get_character_count(text.get(), nullptr);
}

bool AccessibleEditor::isActive() {
    AtspiAccessible* app = accessibleApplication(m_pid);
    if (!app)
        return false;
    bool active = false;
    const int count = atspi_accessible_get_child_count(app, nullptr);
    for (int i = 0; i < count && !active; ++i) {
        if (AtspiAccessible* window = atspi_accessible_get_child_at_index(app, i, nullptr)) {
            active = hasState(window, ATSPI_STATE_ACTIVE);
            g_object_unref(window);
        }
    }
    g_object_unref(app);
    return active;
}

bool AccessibleEditor::hasFocus() {
    return isActive() && hasState(accessible(m_view), ATSPI_STATE_FOCUSED);
}

} // namespace quill::test
