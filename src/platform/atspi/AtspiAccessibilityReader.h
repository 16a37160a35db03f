#pragma once

#include "platform/AccessibilityReader.h"

#include <chrono>
#include <memory>
#include <thread>

namespace quill {

// AT-SPI 2 through libatspi. All libatspi work runs on one worker thread with its own main
// context; a caller waits at most `waitMs` for an answer, so a hung application cannot freeze it.
class AtspiAccessibilityReader final : public AccessibilityReader {
public:
    explicit AtspiAccessibilityReader(int callTimeoutMs = 250, int waitMs = 1000);
    ~AtspiAccessibilityReader() override;
    AtspiAccessibilityReader(const AtspiAccessibilityReader&) = delete;
    AtspiAccessibilityReader& operator=(const AtspiAccessibilityReader&) = delete;

    std::optional<FocusedText> focusedText(std::optional<qint64> pid) override;
    std::optional<FocusedText> announcedFocusText(qint64 pid,
                                                  std::chrono::steady_clock::time_point heldSince) override;
    std::optional<ActiveApplication> activeApplication() override;
    // Connected to the accessibility bus; until then every read answers none at once.
    bool isAvailable() const;

private:
    // Only where focus was announced while the shortcut's key is held since `heldSince`.
    std::optional<FocusedText> read(std::optional<qint64> pid,
                                    std::optional<std::chrono::steady_clock::time_point> heldSince);

    struct Worker;
    std::shared_ptr<Worker> m_worker;
    std::thread m_thread;
    int m_waitMs;
};

} // namespace quill
