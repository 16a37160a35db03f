#pragma once

#include <QObject>
#include <QTextObjectInterface>

class QTextBlock;

namespace quill {

class CodeBlockView;

// Makes room in a text for a code block shown by a CodeBlockView laid over it: one character
// in a paragraph of its own, as wide as the paragraph and as high as the block at that width.
// The paragraph keeps its place in the list item or quote the code was written in.
class CodeBlockObject : public QObject, public QTextObjectInterface {
    Q_OBJECT
    Q_INTERFACES(QTextObjectInterface)
public:
    static constexpr int objectType = QTextFormat::UserObject + 1;
    static constexpr int indexProperty = QTextFormat::UserProperty + 1;

    // `blocks` are the views of the text's code blocks, by index; they outlive this object.
    CodeBlockObject(const QList<CodeBlockView*>& blocks, QObject* parent = nullptr);

    // Lets `document` make room for code blocks.
    void registerWith(QTextDocument* document);

    // The character format of the character that stands for code block `index`.
    static QTextCharFormat format(int index);
    // The index of the code block `block` stands for, -1 when it stands for none.
    static int indexAt(const QTextBlock& block);
    // How wide the content of `block` may be.
    static qreal availableWidth(const QTextDocument* document, const QTextBlock& block);

    QSizeF intrinsicSize(QTextDocument* document, int positionInDocument, const QTextFormat& format) override;
    void drawObject(QPainter* painter, const QRectF& rect, QTextDocument* document, int positionInDocument,
                    const QTextFormat& format) override;

private:
    const QList<CodeBlockView*>& m_blocks;
};

} // namespace quill
