#pragma once

#include <QByteArray>
#include <chrono>
#include <optional>

namespace quill {

// Qt's accessibility bridge asks the accessibility bus launcher about the bus and connects to
// the bus on the interface thread, waiting up to D-Bus's 25 s for each answer. When the bus or
// its launcher does not answer, the guard shows the bridge an address that fails at once, so
// the program starts and runs, only without screen-reader support for its own windows; our
// own reader connects on a thread of its own and picks the bus up when it answers.
class AccessibilityBusGuard {
public:
    // Before the QGuiApplication exists (the environment is changed while one thread runs):
    // asks the bus, waiting at most `budget`.
    explicit AccessibilityBusGuard(std::chrono::milliseconds budget);
    AccessibilityBusGuard(const AccessibilityBusGuard&) = delete;
    AccessibilityBusGuard& operator=(const AccessibilityBusGuard&) = delete;

    bool answered() const { return m_answered; }
    // With the QGuiApplication: lets Qt's bridge read the address now, then puts back what the
    // session had, for libatspi. Replacing or removing an existing variable moves no other.
    void release();

private:
    void restore();

    bool m_answered = true;
    std::chrono::milliseconds m_budget{0};
    std::optional<QByteArray> m_original;
};

} // namespace quill
