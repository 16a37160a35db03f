#include "MarkdownView.h"

#include "CodeBlockView.h"
#include "MarkdownSegments.h"
#include "MarkdownTextView.h"

#include <QRegularExpression>

namespace quill {

namespace {

// Space between a code block and the prose around it.
constexpr int blockSpacing = 8;

int partHeight(const QWidget* part, int width) {
    return part->heightForWidth(width);
}

// A link reference definition applies to the whole text: each piece of prose gets them all.
QString linkDefinitions(const QString& markdown) {
    static const QRegularExpression definition(QStringLiteral("^ {0,3}\\[[^\\]]+\\]:.*$"),
                                               QRegularExpression::MultilineOption);
    QStringList lines;
    for (auto it = definition.globalMatch(markdown); it.hasNext();)
        lines << it.next().captured();
    return lines.isEmpty() ? QString() : QStringLiteral("\n\n") + lines.join(u'\n');
}

} // namespace

MarkdownView::MarkdownView(const QFont& font, qreal lineSpacing, QWidget* parent)
    : QWidget(parent)
    , m_font(font)
    , m_lineSpacing(lineSpacing) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void MarkdownView::setMarkdown(const QString& markdown) {
    if (markdown == m_markdown)
        return;
    m_markdown = markdown;
    const QList<MarkdownSegment> segments = splitMarkdownSegments(markdown);
    const bool severalProse = segments.size() > 1;
    const QString definitions = severalProse ? linkDefinitions(markdown) : QString();
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const MarkdownSegment& segment = segments[i];
        const bool code = segment.kind == MarkdownSegment::Kind::code;
        QWidget* part = i < m_parts.size() ? m_parts[i] : nullptr;
        if (part && (qobject_cast<CodeBlockView*>(part) != nullptr) != code) {
            while (m_parts.size() > i)
                delete m_parts.takeLast();
            part = nullptr;
        }
        if (!part) {
            if (code) {
                auto* block = new CodeBlockView(m_font, this);
                connect(block, &CodeBlockView::copyRequested, this, &MarkdownView::codeCopyRequested);
                part = block;
            } else {
                auto* prose = new MarkdownTextView(m_font, m_lineSpacing, this);
                connect(prose, &MarkdownTextView::codeCopyRequested, this, &MarkdownView::codeCopyRequested);
                part = prose;
            }
            part->setVisible(true);
            m_parts.append(part);
        }
        if (code)
            static_cast<CodeBlockView*>(part)->setCode(segment.text, segment.language);
        else
            static_cast<MarkdownTextView*>(part)->setMarkdown(segment.text + definitions);
    }
    while (m_parts.size() > segments.size())
        delete m_parts.takeLast();
    updateGeometry();
    arrange();
}

QString MarkdownView::toPlainText() const {
    QStringList texts;
    for (const QWidget* part : m_parts) {
        if (const auto* code = qobject_cast<const CodeBlockView*>(part))
            texts << code->code();
        else
            texts << static_cast<const MarkdownTextView*>(part)->shownText();
    }
    return texts.join(u'\n');
}

int MarkdownView::idealWidth() const {
    int width = 0;
    for (const QWidget* part : m_parts) {
        if (const auto* code = qobject_cast<const CodeBlockView*>(part))
            width = std::max(width, code->idealWidth());
        else
            width = std::max(width, static_cast<const MarkdownTextView*>(part)->idealWidth());
    }
    return width;
}

int MarkdownView::heightForWidth(int width) const {
    int height = 0;
    for (qsizetype i = 0; i < m_parts.size(); ++i) {
        if (i > 0)
            height += blockSpacing;
        height += partHeight(m_parts[i], width);
    }
    return height;
}

QSize MarkdownView::sizeHint() const {
    const int w = std::max(1, width());
    return {w, heightForWidth(w)};
}

void MarkdownView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

void MarkdownView::arrange() {
    const int w = width();
    int y = 0;
    for (QWidget* part : m_parts) {
        const int h = partHeight(part, w);
        part->setGeometry(0, y, w, h);
        y += h + blockSpacing;
    }
}

} // namespace quill
