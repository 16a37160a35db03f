#pragma once

#include "Shortcut.h"

#include <QPushButton>
#include <cstdint>
#include <optional>

class QKeyEvent;

namespace quill {

// The shortcut button takes the key presses itself while recording, before Tab moves the focus
// and before any shortcut of the window can claim them.
class KeyCaptureButton final : public QPushButton {
    Q_OBJECT
public:
    explicit KeyCaptureButton(QWidget* parent = nullptr);

    void setRecording(bool recording) { m_recording = recording; }

signals:
    // A key with Ctrl, Shift, Alt or Super that has a stored code.
    void captured(const quill::Shortcut& shortcut);
    // Escape ended the recording.
    void cancelled();

protected:
    bool event(QEvent* event) override;

private:
    void keyDown(const QKeyEvent& event);
    // The key the user pressed, not what it types: on AZERTY the key with "1" on it types "&"
    // under Ctrl, and the global grab must take that same key.
    static std::optional<uint32_t> storedKeyCode(const QKeyEvent& event);

    bool m_recording = false;
};

} // namespace quill
