#pragma once

#include "Shortcut.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QToolButton;

namespace quill {

class KeyCaptureButton;

// Where a recorder reads the shortcut it shows and writes the one the user records; the owner
// of the binding decides what a write does.
struct ShortcutBinding {
    std::function<Shortcut()> read;
    std::function<void(const Shortcut&)> write;
};

// Shows one shortcut and records a new one: a click on the button starts recording, the next
// key press with Ctrl, Shift, Alt or Super ends it. Escape, with or without modifiers, ends it
// without a change, and the shortcuts the desktop itself uses are refused.
class ShortcutRecorderView : public QWidget {
    Q_OBJECT
public:
    static QString recordingText() { return tr("Press shortcut..."); }
    static QString reservedText() { return tr("Reserved system shortcut"); }
    // The reset button restores the same shortcut in every recorder, whichever action it edits.
    static constexpr Shortcut resetShortcut{18, modifier::command};

    explicit ShortcutRecorderView(ShortcutBinding binding, QWidget* parent = nullptr);

    bool isRecording() const { return m_recording; }
    std::optional<QString> error() const { return m_error; }
    // Shows the bound value again; the owner calls it when the bound store changed.
    void refresh();

signals:
    void recordingChanged(bool recording);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void startRecording();
    void capture(std::optional<Shortcut> captured);
    void reset();
    void setRecording(bool recording);
    void setError(std::optional<QString> error);

    ShortcutBinding m_binding;
    bool m_recording = false;
    std::optional<QString> m_error;
    KeyCaptureButton* m_shortcutButton;
    QToolButton* m_resetButton;
    QLabel* m_errorLabel;
};

} // namespace quill
