#include "MarkdownSegments.h"

namespace quill {

namespace {

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

} // namespace

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
    qsizetype pos = 0;
    while (pos < markdown.size()) {
        const qsizetype newline = markdown.indexOf(u'\n', pos);
        const qsizetype next = newline < 0 ? markdown.size() : newline + 1;
        const QStringView line =
            QStringView(markdown).mid(pos, (newline < 0 ? markdown.size() : newline) - pos);
        if (!fence) {
            fence = openingFence(line);
            if (fence)
                addProse();
            else
                prose += QStringView(markdown).mid(pos, next - pos);
        } else if (closesFence(line, *fence)) {
            addCode();
            fence.reset();
        } else {
            code += QStringView(markdown).mid(pos, next - pos);
        }
        pos = next;
    }
    if (fence)
        addCode();
    addProse();
    return segments;
}

} // namespace quill
