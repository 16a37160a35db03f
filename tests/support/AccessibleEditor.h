#pragma once

#include <QString>

typedef struct _AtspiAccessible AtspiAccessible;

namespace quill::test {

// The application with process id `pid` on the accessibility bus, with a reference the caller
// gives back (g_object_unref); null when it has not registered (yet).
AtspiAccessible* accessibleApplication(qint64 pid);

// A text editor's buffer (its first showing, editable text) seen through AT-SPI: native Wayland
// windows are invisible to X11 tools.
class AccessibleEditor {
public:
    explicit AccessibleEditor(qint64 pid);
    ~AccessibleEditor();
    AccessibleEditor(const AccessibleEditor&) = delete;
    AccessibleEditor& operator=(const AccessibleEditor&) = delete;

    // Looks for the buffer until found; whether it has been. The other calls need it found.
    bool find();
    QString text();
    bool selectAll();
    bool placeCaretAtEnd();
    bool caretAtEnd();
    // Whether one of the editor's windows is the active one.
    bool isActive();
    // The editor's window is the active one and its buffer has the keyboard focus.
    bool hasFocus();

private:
    qint64 m_pid;
    AtspiAccessible* m_view = nullptr;
};

} // namespace quill::test
