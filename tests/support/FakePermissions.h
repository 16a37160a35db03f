#pragma once

#include "platform/AccessibilityStatus.h"
#include "platform/MicrophoneAccess.h"
#include "platform/SettingsLauncher.h"

#include <QList>
#include <functional>
#include <optional>

namespace quill::test {

// Stand-ins for the desktop's accessibility switch, its settings programs and the microphone right.
class FakeAccessibilityStatus final : public AccessibilityStatus {
public:
    std::optional<bool> isEnabled() override { return enabled; }
    bool setEnabled(bool value) override {
        setCalls << value;
        if (enabled)
            enabled = value;
        return enabled.has_value();
    }
    bool watch(const std::function<void()>& callback) override {
        if (watchable)
            changed = callback;
        return watchable;
    }
    std::optional<bool> enabled;
    QList<bool> setCalls;
    bool watchable = false;
    std::function<void()> changed;
};

class FakeSettingsLauncher final : public SettingsLauncher {
public:
    bool open(Pane pane) override {
        opened << pane;
        return exists;
    }
    QList<Pane> opened;
    bool exists = true;
};

class FakeMicrophoneAccess final : public MicrophoneAccess {
public:
    Authorization authorization() override { return state; }
    void requestAccess(std::function<void(bool)> answer) override {
        ++requests;
        answer(userAnswer);
    }
    Authorization state = Authorization::authorized;
    bool userAnswer = true;
    int requests = 0;
};

} // namespace quill::test
