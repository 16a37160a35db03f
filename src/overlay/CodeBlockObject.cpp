#include "CodeBlockObject.h"

#include "CodeBlockView.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextList>
#include <cmath>

namespace quill {

CodeBlockObject::CodeBlockObject(const QList<CodeBlockView*>& blocks, QObject* parent)
    : QObject(parent)
    , m_blocks(blocks) {}

void CodeBlockObject::registerWith(QTextDocument* document) {
    document->documentLayout()->registerHandler(objectType, this);
}

QTextCharFormat CodeBlockObject::format(int index) {
    QTextCharFormat format;
    format.setObjectType(objectType);
    format.setProperty(indexProperty, index);
    // A list item's marker stands by the block's first line, not below its last.
    format.setVerticalAlignment(QTextCharFormat::AlignTop);
    return format;
}

int CodeBlockObject::indexAt(const QTextBlock& block) {
    if (block.length() != 2 || block.text().front() != QChar::ObjectReplacementCharacter)
        return -1;
    const QTextCharFormat format = block.begin().fragment().charFormat();
    return format.objectType() == objectType ? format.intProperty(indexProperty) : -1;
}

qreal CodeBlockObject::availableWidth(const QTextDocument* document, const QTextBlock& block) {
    const QTextBlockFormat format = block.blockFormat();
    qreal indent = format.indent();
    if (const QTextList* list = block.textList())
        indent += list->format().indent();
    const qreal width = document->textWidth() - 2 * document->documentMargin() - format.leftMargin() -
                        format.rightMargin() - format.textIndent() - indent * document->indentWidth();
    return std::max<qreal>(0, std::floor(width));
}

QSizeF CodeBlockObject::intrinsicSize(QTextDocument* document, int positionInDocument,
                                      const QTextFormat& format) {
    const int index = format.intProperty(indexProperty);
    if (index < 0 || index >= m_blocks.size())
        return {};
    const CodeBlockView* view = m_blocks[index];
    // Laid out without a width, the text asks how wide it would like to be.
    if (document->textWidth() < 0)
        return QSizeF(view->idealWidth(), view->heightForWidth(view->idealWidth()));
    const qreal width = availableWidth(document, document->findBlock(positionInDocument));
    return QSizeF(width, view->heightForWidth(int(width)));
}

void CodeBlockObject::drawObject(QPainter*, const QRectF&, QTextDocument*, int, const QTextFormat&) {
    // The code block's own view draws it.
}

} // namespace quill
