#pragma once

#include "platform/ActiveWindowTracker.h"
#include "platform/KeyGrabber.h"

#include <optional>
#include <unordered_set>

namespace quill::test {

// A keyboard hook in memory. `press` behaves like the X server: only a combination that is
// grabbed at that moment reaches the hook.
class FakeKeyGrabber final : public KeyGrabber {
public:
    bool install(PressHandler onPress) override {
        ++installCalls;
        m_onPress = std::move(onPress);
        return available;
    }
    GrabResult grab(const KeyCombination& combination) override {
        if (takenByOthers.contains(combination))
            return GrabResult::taken;
        if (missingKeys.contains(combination.key))
            return GrabResult::noSuchKey;
        grabbed.insert(combination);
        return GrabResult::grabbed;
    }
    void ungrab(const KeyCombination& combination) override { grabbed.erase(combination); }

    bool press(const KeyCombination& combination) {
        if (!grabbed.contains(combination) || !m_onPress)
            return false;
        m_onPress(combination);
        return true;
    }

    bool available = true;
    int installCalls = 0;
    std::unordered_set<KeyCombination> takenByOthers;
    std::unordered_set<Qt::Key> missingKeys;
    std::unordered_set<KeyCombination> grabbed;

private:
    PressHandler m_onPress;
};

// The window in front, set by the test; `activate` announces a switch.
class FakeActiveWindowTracker final : public ActiveWindowTracker {
public:
    std::optional<qint64> frontProcessId() override { return front; }
    void activate(qint64 processId) {
        front = processId;
        emit activated(processId);
    }
    std::optional<qint64> front;
};

} // namespace quill::test
