#include "KeyCaptureButton.h"

#include "KeyCodes.h"
#include "platform/PhysicalKeys.h"

#include <QGuiApplication>
#include <QKeyEvent>

namespace quill {

KeyCaptureButton::KeyCaptureButton(QWidget* parent) : QPushButton(parent) {}

bool KeyCaptureButton::event(QEvent* event) {
    if (m_recording && event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (m_recording && event->type() == QEvent::KeyPress) {
        keyDown(*static_cast<QKeyEvent*>(event));
        return true;
    }
    return QPushButton::event(event);
}

void KeyCaptureButton::keyDown(const QKeyEvent& event) {
    if (event.key() == Qt::Key_Escape) {
        emit cancelled();
        return;
    }
    const uint32_t modifiers = modifiersFromQt(event.modifiers());
    if (modifiers == 0)
        return;
    // A modifier pressed on its own, or a key without a stored code, keeps the recording going.
    const auto keyCode = storedKeyCode(event);
    if (!keyCode)
        return;
    emit captured(Shortcut{*keyCode, modifiers});
}

std::optional<uint32_t> KeyCaptureButton::storedKeyCode(const QKeyEvent& event) {
    static const bool scanCodesAreLinuxKeys = QGuiApplication::platformName() == QLatin1String("xcb") ||
                                              QGuiApplication::platformName() == QLatin1String("wayland");
    if (scanCodesAreLinuxKeys && event.nativeScanCode() != 0) {
        const Qt::Key physical = physicalKeyForScanCode(event.nativeScanCode());
        if (physical == Qt::Key_unknown)
            return std::nullopt;
        return keyCodeForQtKey(physical);
    }
    return keyCodeForQtKey(event.key());
}

} // namespace quill
