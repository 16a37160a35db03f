#include "MarkdownSegments.h"

#include <limits>
#include <optional>

namespace quill {

namespace {

// Walks a text a line at a time: `line` without its newline, `whole` with it.
class Lines {
public:
    explicit Lines(QStringView text) : m_text(text) {}

    bool next(QStringView& line, QStringView& whole) {
        if (m_pos >= m_text.size())
            return false;
        const qsizetype newline = m_text.indexOf(u'\n', m_pos);
        const qsizetype end = newline < 0 ? m_text.size() : newline;
        const qsizetype next = newline < 0 ? m_text.size() : newline + 1;
        line = m_text.mid(m_pos, end - m_pos);
        whole = m_text.mid(m_pos, next - m_pos);
        m_pos = next;
        return true;
    }

private:
    QStringView m_text;
    qsizetype m_pos = 0;
};

// Characters of Unicode's private use area: no answer holds them, and a text that does is left
// as it is.
constexpr QChar placeholderStart(0xE000);
constexpr QChar placeholderEnd(0xE001);
// How far indented code is indented beyond the content it belongs to.
constexpr int codeIndent = 4;
constexpr int tabStop = 4;

struct Fence {
    QChar character;
    qsizetype length = 0;
    QString info;
};

// An opening fence at the left margin: three or more backticks or tildes.
std::optional<Fence> openingFence(QStringView line) {
    if (line.isEmpty() || (line.front() != u'`' && line.front() != u'~'))
        return std::nullopt;
    const QChar character = line.front();
    qsizetype length = 0;
    while (length < line.size() && line[length] == character)
        ++length;
    if (length < 3)
        return std::nullopt;
    const QStringView info = line.mid(length).trimmed();
    // A backtick in the info string makes the line inline code, not a fence.
    if (character == u'`' && info.contains(u'`'))
        return std::nullopt;
    return Fence{character, length, info.toString()};
}

bool closesFence(QStringView line, const Fence& fence) {
    qsizetype indent = 0;
    while (indent < line.size() && indent < 4 && line[indent] == u' ')
        ++indent;
    if (indent > 3)
        return false;
    qsizetype length = 0;
    while (indent + length < line.size() && line[indent + length] == fence.character)
        ++length;
    return length >= fence.length && line.mid(indent + length).trimmed().isEmpty();
}

// A line without the quote markers in front of it, up to `maxDepth` of them.
struct QuotedLine {
    int depth = 0;
    QStringView rest;
};

QuotedLine unquote(QStringView line, int maxDepth) {
    QuotedLine quoted{0, line};
    while (quoted.depth < maxDepth) {
        qsizetype pos = 0;
        while (pos < quoted.rest.size() && pos < 3 && quoted.rest[pos] == u' ')
            ++pos;
        if (pos >= quoted.rest.size() || quoted.rest[pos] != u'>')
            break;
        ++pos;
        if (pos < quoted.rest.size() && quoted.rest[pos] == u' ')
            ++pos;
        quoted.rest = quoted.rest.mid(pos);
        ++quoted.depth;
    }
    return quoted;
}

struct Indent {
    int columns = 0;
    qsizetype length = 0;
};

Indent indentOf(QStringView text) {
    Indent indent;
    for (; indent.length < text.size(); ++indent.length) {
        if (text[indent.length] == u' ')
            ++indent.columns;
        else if (text[indent.length] == u'\t')
            indent.columns += tabStop - indent.columns % tabStop;
        else
            break;
    }
    return indent;
}

// `text` without the first `columns` columns of its indentation.
QString dropIndent(QStringView text, int columns) {
    int column = 0;
    qsizetype pos = 0;
    for (; pos < text.size() && column < columns; ++pos) {
        if (text[pos] == u' ')
            ++column;
        else if (text[pos] == u'\t')
            column += tabStop - column % tabStop;
        else
            break;
    }
    // A tab that reaches past the cut keeps the columns beyond it.
    return QString(std::max(0, column - columns), u' ').append(text.mid(pos));
}

// How far the content of a list item starts after the start of its marker at the start of
// `text`; 0 when `text` does not start with a marker.
qsizetype listContentOffset(QStringView text) {
    qsizetype pos = 0;
    if (!text.isEmpty() && (text[0] == u'-' || text[0] == u'*' || text[0] == u'+')) {
        pos = 1;
    } else {
        while (pos < text.size() && pos < 9 && text[pos].isDigit())
            ++pos;
        if (pos == 0 || pos >= text.size() || (text[pos] != u'.' && text[pos] != u')'))
            return 0;
        ++pos;
    }
    if (pos == text.size())
        return pos + 1;
    const Indent spaces = indentOf(text.mid(pos));
    if (spaces.length == 0)
        return 0;
    // Content indented further than that is indented code inside the item.
    return spaces.columns > codeIndent ? pos + 1 : pos + spaces.columns;
}

QString quotePrefix(int depth) {
    return QStringLiteral("> ").repeated(depth);
}

} // namespace

QString embeddedCodePlaceholder(qsizetype index) {
    return placeholderStart + QString::number(index) + placeholderEnd;
}

ProseWithCode extractEmbeddedCode(const QString& markdown) {
    ProseWithCode result;
    if (markdown.contains(placeholderStart)) {
        result.markdown = markdown;
        return result;
    }
    enum class Block { none, marginFence, fence, indented };
    Block block = Block::none;
    std::optional<Fence> fence;
    // The open block's quote depth, the column its list item's content starts at (fences), and
    // the columns of indentation on each line that are not the code's.
    int blockDepth = 0;
    int container = 0;
    int strip = 0;
    // What stands before the placeholder on its line: quote markers, list marker, indentation.
    QString lead;
    QStringList code;
    // Blank lines after indented code belong to it only if more code follows.
    QStringList blankCode;
    QString blankLines;
    // Where the content of each open list item starts, innermost last.
    QList<int> lists;
    int listsDepth = 0;
    bool previousBlank = true;
    QString& out = result.markdown;

    const auto finish = [&] {
        result.code.append({MarkdownSegment::Kind::code, code.join(u'\n'),
                            fence ? fence->info.section(u' ', 0, 0) : QString()});
        out += lead + embeddedCodePlaceholder(result.code.size() - 1) + u'\n' +
               quotePrefix(blockDepth).trimmed() + u'\n' + blankLines;
        code.clear();
        blankCode.clear();
        blankLines.clear();
        fence.reset();
        block = Block::none;
        previousBlank = true;
    };

    Lines lines(markdown);
    QStringView line;
    QStringView whole;
    while (lines.next(line, whole)) {

        if (block == Block::marginFence) {
            out += whole;
            if (closesFence(line, *fence)) {
                fence.reset();
                block = Block::none;
            }
            continue;
        }
        if (block != Block::none) {
            const QuotedLine quoted = unquote(line, blockDepth);
            const Indent indent = indentOf(quoted.rest);
            const bool blank = indent.length == quoted.rest.size();
            if (block == Block::fence) {
                // The end of the list item or quote ends its code too.
                const bool inside = quoted.depth == blockDepth && (blank || indent.columns >= container);
                if (inside && closesFence(dropIndent(quoted.rest, container), *fence)) {
                    finish();
                    continue;
                }
                if (inside) {
                    code << dropIndent(quoted.rest, strip);
                    continue;
                }
            } else if (quoted.depth == blockDepth) {
                if (blank) {
                    blankCode << dropIndent(quoted.rest, strip);
                    blankLines += whole;
                    continue;
                }
                if (indent.columns >= strip) {
                    code << blankCode << dropIndent(quoted.rest, strip);
                    blankCode.clear();
                    blankLines.clear();
                    continue;
                }
            }
            finish();
        }

        const QuotedLine quoted = unquote(line, std::numeric_limits<int>::max());
        const Indent indent = indentOf(quoted.rest);
        if (indent.length == quoted.rest.size()) {
            out += whole;
            previousBlank = true;
            continue;
        }
        if (quoted.depth != listsDepth) {
            lists.clear();
            listsDepth = quoted.depth;
        }
        const QStringView content = quoted.rest.mid(indent.length);
        const qsizetype marker = listContentOffset(content);
        const QStringView afterMarker = marker > 0 ? content.mid(std::min(marker, content.size())) : content;
        const std::optional<Fence> opening = openingFence(afterMarker.trimmed());
        // A paragraph's lazy continuation stays in its list item; anything else that is
        // indented less than the item's content ends it.
        if (previousBlank || marker > 0 || opening) {
            while (!lists.isEmpty() && lists.last() > indent.columns)
                lists.removeLast();
        }
        const int itemContent = lists.isEmpty() ? 0 : lists.last();
        if (previousBlank && indent.columns - itemContent >= codeIndent) {
            block = Block::indented;
            blockDepth = quoted.depth;
            strip = itemContent + codeIndent;
            lead = quotePrefix(quoted.depth) + QString(itemContent, u' ');
            code << dropIndent(quoted.rest, strip);
            continue;
        }
        if (marker > 0)
            lists << indent.columns + int(marker);
        if (!opening || indent.columns - itemContent >= codeIndent) {
            out += whole;
            previousBlank = false;
            continue;
        }
        fence = opening;
        const qsizetype fenceAt = (afterMarker.data() - quoted.rest.data()) + indentOf(afterMarker).length;
        const int column = indent.columns + int(fenceAt - indent.length);
        if (quoted.depth == 0 && column == 0) {
            block = Block::marginFence;
            out += whole;
            previousBlank = false;
            continue;
        }
        block = Block::fence;
        blockDepth = quoted.depth;
        container = lists.isEmpty() ? 0 : lists.last();
        strip = column;
        lead = quotePrefix(quoted.depth) + quoted.rest.left(fenceAt).toString();
        // Code right after a paragraph line becomes a paragraph of its own, not a continuation.
        if (marker == 0 && !previousBlank)
            out += quotePrefix(quoted.depth).trimmed() + u'\n';
    }
    if (block == Block::fence || block == Block::indented)
        finish();
    return result;
}

QList<MarkdownSegment> splitMarkdownSegments(const QString& markdown) {
    QList<MarkdownSegment> segments;
    QString prose;
    QString code;
    std::optional<Fence> fence;
    const auto addProse = [&] {
        if (!prose.trimmed().isEmpty())
            segments.append({MarkdownSegment::Kind::prose, prose, {}});
        prose.clear();
    };
    const auto addCode = [&] {
        if (code.endsWith(u'\n'))
            code.chop(1);
        segments.append({MarkdownSegment::Kind::code, code, fence->info.section(u' ', 0, 0)});
        code.clear();
    };
    Lines lines(markdown);
    QStringView line;
    QStringView whole;
    while (lines.next(line, whole)) {
        if (!fence) {
            fence = openingFence(line);
            if (fence)
                addProse();
            else
                prose += whole;
        } else if (closesFence(line, *fence)) {
            addCode();
            fence.reset();
        } else {
            code += whole;
        }
    }
    if (fence)
        addCode();
    addProse();
    return segments;
}

} // namespace quill
