#pragma once

#include <QString>
#include <memory>
#include <optional>

namespace quill {

// A span of text counted in user-perceived characters (grapheme clusters).
struct TextRange {
    qsizetype location = 0;
    qsizetype length = 0;
};

// What the accessibility interface tells about the focused element of an application. Each
// field is none when the element does not answer that question.
struct FocusedText {
    std::optional<QString> selectedText; // the first selection; empty when nothing is selected
    std::optional<TextRange> range;      // the first selection; an empty one reports location 0
    std::optional<QString> value;        // the element's whole text; read only for a non-empty range
};

// Reads other applications' focused text elements through the desktop's accessibility bus.
class AccessibilityReader {
public:
    virtual ~AccessibilityReader() = default;
    // The focused element of the front application, or of the application with process id `pid`.
    // None when that application or its focused element cannot be found. Never asks this process.
    virtual std::optional<FocusedText> focusedText(std::optional<qint64> pid) = 0;
};

class NullAccessibilityReader final : public AccessibilityReader {
public:
    std::optional<FocusedText> focusedText(std::optional<qint64>) override { return std::nullopt; }
};

// AT-SPI 2 through libatspi. All libatspi work runs on one worker thread with its own main
// context; a caller waits at most `waitMs` for an answer, so a hung application cannot freeze it.
class AtspiAccessibilityReader final : public AccessibilityReader {
public:
    explicit AtspiAccessibilityReader(int callTimeoutMs = 250, int waitMs = 1000);
    ~AtspiAccessibilityReader() override;
    AtspiAccessibilityReader(const AtspiAccessibilityReader&) = delete;
    AtspiAccessibilityReader& operator=(const AtspiAccessibilityReader&) = delete;

    std::optional<FocusedText> focusedText(std::optional<qint64> pid) override;

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
    int m_waitMs;
};

} // namespace quill
