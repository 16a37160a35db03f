#include "MarkdownView.h"

#include "OverlayStyle.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <cmath>

namespace quill {

MarkdownView::MarkdownView(const QFont& font, qreal lineSpacing, QWidget* parent)
    : QTextEdit(parent)
    , m_font(font)
    , m_lineSpacing(lineSpacing) {
    setReadOnly(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    document()->setDocumentMargin(0);
    document()->setIndentWidth(18);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    applyStyle();
}

void MarkdownView::setMarkdown(const QString& markdown) {
    if (markdown == m_markdown)
        return;
    m_markdown = markdown;
    render();
}

void MarkdownView::render() {
    QTextDocument* doc = document();
    doc->setMarkdown(m_markdown);
    QTextCursor cursor(doc);
    cursor.select(QTextCursor::Document);
    QTextBlockFormat spacing;
    spacing.setLineHeight(m_lineSpacing, QTextBlockFormat::LineDistanceHeight);
    cursor.mergeBlockFormat(spacing);
    updateGeometry();
}

int MarkdownView::idealWidth() const {
    std::unique_ptr<QTextDocument> copy(document()->clone());
    copy->setTextWidth(-1);
    return static_cast<int>(std::ceil(copy->idealWidth()));
}

int MarkdownView::heightForWidth(int width) const {
    const QTextDocument* doc = document();
    if (std::abs(doc->textWidth() - width) < 0.5)
        return static_cast<int>(std::ceil(doc->size().height()));
    std::unique_ptr<QTextDocument> copy(doc->clone());
    copy->setTextWidth(width);
    return static_cast<int>(std::ceil(copy->size().height()));
}

QSize MarkdownView::sizeHint() const {
    const int width = std::max(1, static_cast<int>(document()->textWidth()));
    return {width, heightForWidth(width)};
}

QSize MarkdownView::minimumSizeHint() const {
    return {0, 0};
}

void MarkdownView::resizeEvent(QResizeEvent* event) {
    const qreal before = document()->textWidth();
    QTextEdit::resizeEvent(event);
    if (std::abs(document()->textWidth() - before) >= 0.5)
        updateGeometry();
    verticalScrollBar()->setValue(0);
}

void MarkdownView::changeEvent(QEvent* event) {
    QTextEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
}

void MarkdownView::applyStyle() {
    QPalette palette = this->palette();
    const QColor text = OverlayStyle::primary(palette);
    if (palette.color(QPalette::Text) != text || palette.color(QPalette::Base) != Qt::transparent) {
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::Base, Qt::transparent);
        setPalette(palette);
    }
    document()->setDefaultFont(m_font);
    setFont(m_font);
}

} // namespace quill
