#pragma once

#include <QRect>
#include <QString>

namespace quill::test {

// The screen area of the first element of application `pid` whose text contains `wanted`, as
// the accessibility bus tells it; empty when there is none (yet).
QRect accessibleTextExtents(qint64 pid, const QString& wanted);

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
    // The buffer's accessible (an AtspiAccessible), kept out of this header so that users need
    // no AT-SPI headers.
    void* m_view = nullptr;
};

} // namespace quill::test
