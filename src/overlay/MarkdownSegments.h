#pragma once

#include <QList>
#include <QString>

namespace quill {

// A run of Markdown prose, or a fenced code block that starts at the left margin.
struct MarkdownSegment {
    enum class Kind { prose, code };
    Kind kind = Kind::prose;
    // The prose as Markdown, or the code exactly as written between its fences.
    QString text;
    // The first word of the fence's info string ("python"), empty when none.
    QString language;

    bool operator==(const MarkdownSegment&) const = default;
};

// Splits Markdown into prose and the fenced code blocks at the left margin between it, which
// the panel shows as blocks of their own. Code inside lists and quotes stays in the prose.
// A fence not closed yet runs to the end, so streamed code grows in its block. Blank prose
// between two blocks is left out.
QList<MarkdownSegment> splitMarkdownSegments(const QString& markdown);

} // namespace quill
