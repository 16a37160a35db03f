#pragma once

#include "AccessibilityReader.h"
#include "ActiveWindowInfo.h"
#include "ActiveWindowTracker.h"
#include "AudioInputList.h"
#include "AutostartRegistrar.h"
#include "KeyEventPoster.h"
#include "KeyGrabber.h"
#include "KeyboardLayout.h"
#include "PanelWindowHelper.h"

// The do-nothing versions of the platform capabilities, for sessions that lack one (no X
// server, no accessibility bus) and for tests that need a capability to stand still.

namespace quill {

// Nothing can be read: the copy fallback is the only way to the selection.
class NullAccessibilityReader final : public AccessibilityReader {
public:
    std::optional<FocusedText> focusedText(std::optional<qint64>) override { return std::nullopt; }
    std::optional<FocusedText> announcedFocusText(qint64, std::chrono::steady_clock::time_point) override {
        return std::nullopt;
    }
    std::optional<ActiveApplication> activeApplication() override { return std::nullopt; }
};

class NullActiveWindowInfo final : public ActiveWindowInfo {
public:
    QStringList applicationNames() override { return {}; }
    bool holdsPrimarySelection() override { return false; }
};

// For sessions that do not tell other clients which window is active.
class NullActiveWindowTracker final : public ActiveWindowTracker {
public:
    using ActiveWindowTracker::ActiveWindowTracker;
    std::optional<qint64> frontProcessId() override { return std::nullopt; }
};

// For sessions without a sound server to ask: only the default input exists.
class NullAudioInputList final : public AudioInputList {
public:
    void watch() override {}
    QList<AudioInput> inputs() const override { return {}; }
};

// Remembers the switch in memory only.
class NullAutostartRegistrar final : public AutostartRegistrar {
public:
    bool setEnabled(bool enabled, QString* = nullptr) override {
        m_enabled = enabled;
        return true;
    }
    bool isEnabled() const override { return m_enabled; }

private:
    bool m_enabled = false;
};

class NullKeyEventPoster final : public KeyEventPoster {
public:
    bool isAvailable() const override { return false; }
    Qt::KeyboardModifiers heldModifiers() override { return {}; }
    bool isKeyHeld() override { return false; }
    void postKey(Qt::Key, Qt::KeyboardModifiers) override {}
};

// For sessions without a system-wide keyboard hook (Wayland, offscreen).
class NullKeyGrabber final : public KeyGrabber {
public:
    bool install(PressHandler, ReleaseHandler) override { return false; }
    GrabResult grab(const KeyCombination&) override { return GrabResult::unwatched; }
    void ungrab(const KeyCombination&) override {}
};

// Where the layout cannot be read, keys keep their US names.
class NullKeyboardLayout final : public KeyboardLayout {
public:
    QString keyLabel(Qt::Key) override { return {}; }
};

// For window systems that composite always and manage desktops themselves.
class NullPanelWindowHelper final : public PanelWindowHelper {
public:
    bool compositorActive() const override { return true; }
    void showOnAllDesktops(QWindow*) override {}
    void setInputRegion(QWindow*, const QRegion&) override {}
};

} // namespace quill
