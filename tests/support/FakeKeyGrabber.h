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
    bool install(PressHandler onPress, ReleaseHandler onRelease) override {
        ++installCalls;
        m_onPress = std::move(onPress);
        m_onRelease = std::move(onRelease);
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
    void setRefusalHandler(const RefusalHandler& handler) override { m_onRefusal = handler; }

    // The desktop takes back a key it had seemed to give, as the GlobalShortcuts portal does.
    void refuse(const KeyCombination& combination) {
        grabbed.erase(combination);
        if (m_onRefusal)
            m_onRefusal(combination, GrabResult::refused);
    }

    bool press(const KeyCombination& combination) {
        if (!grabbed.contains(combination) || !m_onPress)
            return false;
        m_onPress(combination);
        return true;
    }
    void release(const KeyCombination& combination) {
        if (m_onRelease)
            m_onRelease(combination);
    }

    bool available = true;
    int installCalls = 0;
    std::unordered_set<KeyCombination> takenByOthers;
    std::unordered_set<Qt::Key> missingKeys;
    std::unordered_set<KeyCombination> grabbed;

private:
    PressHandler m_onPress;
    ReleaseHandler m_onRelease;
    RefusalHandler m_onRefusal;
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
