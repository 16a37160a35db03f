#pragma once

#include <QString>
#include <chrono>
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
    // The application whose window is the active one, as it names itself on the bus.
    struct ActiveApplication {
        qint64 processId = 0;
        QString name;
    };

    virtual ~AccessibilityReader() = default;
    // The focused element of the front application, or of the application with process id `pid`.
    // None when that application or its focused element cannot be found. Never asks this process.
    virtual std::optional<FocusedText> focusedText(std::optional<qint64> pid) = 0;
    // While the shortcut's key is held since `heldSince`: the element where the application with
    // process id `pid` last announced focus, if it still has focus or lost it only to the
    // keyboard grab that holding the key means on X11; none without looking further when it has
    // not. Few elements are asked, so this is quick even where the application's tree is large
    // or its windows report no activity. Asked again in the same hold, it answers none at once
    // unless the application announced something new since.
    virtual std::optional<FocusedText>
    announcedFocusText(qint64 pid, std::chrono::steady_clock::time_point heldSince) = 0;
    // None when no application's window is marked active; this process never counts.
    virtual std::optional<ActiveApplication> activeApplication() = 0;
};

} // namespace quill
