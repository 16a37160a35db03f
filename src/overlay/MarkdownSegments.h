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

// Prose whose code blocks have been taken out to be shown as blocks of their own.
struct ProseWithCode {
    // The prose, with each code block replaced by a paragraph that holds only its placeholder,
    // in the same list item or quote.
    QString markdown;
    // The code blocks in order, exactly as written, without list indentation or quote markers.
    QList<MarkdownSegment> code;
};

// Takes out the code blocks that stay in the prose: fenced code inside lists and quotes or
// indented from the margin, and indented code anywhere. Fenced code at the left margin is left
// as it is. A block not closed yet runs to the end, so streamed code grows in its block.
ProseWithCode extractEmbeddedCode(const QString& markdown);

// The text of the paragraph that stands for the code block `index` of extractEmbeddedCode().
QString embeddedCodePlaceholder(qsizetype index);

} // namespace quill
