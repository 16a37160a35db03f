#pragma once

#include "Shortcut.h"

#include <QWidget>
#include <functional>
#include <optional>

class QLabel;
class QToolButton;

namespace quill {

class KeyCaptureButton;

// What a recorder asks its owner: the shortcut it shows, and the names it shows. The owner
// stores what the user chooses (ShortcutRecorderView::shortcutChosen).
struct ShortcutBinding {
    std::function<Shortcut()> read;
    // What "Reset to default" writes: the default of the action this recorder edits.
    Shortcut defaultValue;
    // The name of another action that already uses the shortcut, none when it is free; two
    // actions on one key would fight over a single grab.
    std::function<std::optional<QString>(const Shortcut&)> usedBy;
    // The shortcut as the keyboard in use names it (ShortcutNames).
    std::function<QString(const Shortcut&)> name;
};

// Shows one shortcut and records a new one: a click on the button starts recording, the next
// key press with Ctrl, Shift, Alt or Super ends it. Escape, with or without modifiers, ends it
// without a change; the shortcuts the desktop itself uses and those of other actions are refused.
class ShortcutRecorderView : public QWidget {
    Q_OBJECT
public:
    static QString recordingText() { return tr("Press shortcut..."); }
    static QString reservedText() { return tr("Reserved system shortcut"); }

    explicit ShortcutRecorderView(ShortcutBinding binding, QWidget* parent = nullptr);

    bool isRecording() const { return m_recording; }
    std::optional<QString> error() const { return m_error; }
    // Shows the bound value again; the owner calls it when the bound store changed.
    void refresh();
    // Shows why the bound shortcut does not work (or nothing); the text stays until the next
    // capture, reset or call.
    void setError(std::optional<QString> error);

signals:
    void recordingChanged(bool recording);
    // The user recorded a shortcut no other action uses, or reset to the default; the owner
    // stores it before the recorder shows the bound value again.
    void shortcutChosen(const quill::Shortcut& shortcut);

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void startRecording();
    void capture(std::optional<Shortcut> captured);
    void reset();
    void setRecording(bool recording);
    // Chooses `shortcut` unless another action uses it.
    void tryChoose(const Shortcut& shortcut);

    ShortcutBinding m_binding;
    bool m_recording = false;
    std::optional<QString> m_error;
    KeyCaptureButton* m_shortcutButton;
    QToolButton* m_resetButton;
    QLabel* m_errorLabel;
};

} // namespace quill
