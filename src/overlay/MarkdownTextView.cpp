#include "MarkdownTextView.h"

#include "CodeBlockObject.h"
#include "CodeBlockView.h"
#include "MarkdownDocumentStyle.h"
#include "MarkdownSegments.h"
#include "OverlayStyle.h"

#include <QAbstractTextDocumentLayout>
#include <QDesktopServices>
#include <QEvent>
#include <QMimeData>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextTable>
#include <cmath>

namespace quill {

namespace {

// Raw HTML in the text stays text: a tag is shown as written, never interpreted.
const QTextDocument::MarkdownFeatures markdownFeatures =
    QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub) | QTextDocument::MarkdownNoHTML;

// What the server sends is text, not a page: nothing it names is fetched, neither a local file
// nor anything from the network.
class TextOnlyDocument : public QTextDocument {
public:
    using QTextDocument::QTextDocument;

protected:
    QVariant loadResource(int, const QUrl&) override { return {}; }
};

// An image in the text shows as its description; its address is never looked at.
void replaceImagesWithAltText(QTextDocument& doc) {
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next()) {
        QList<std::pair<int, QString>> images;
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (fragment.isValid() && fragment.charFormat().isImageFormat())
                images.append(
                    {fragment.position(), fragment.charFormat().stringProperty(QTextFormat::ImageAltText)});
        }
        for (auto image = images.crbegin(); image != images.crend(); ++image) {
            QTextCursor cursor(&doc);
            cursor.setPosition(image->first);
            cursor.setPosition(image->first + 1, QTextCursor::KeepAnchor);
            QTextCharFormat format = cursor.charFormat();
            format.clearProperty(QTextFormat::ObjectType);
            format.clearProperty(QTextFormat::ImageName);
            format.clearProperty(QTextFormat::ImageTitle);
            format.clearProperty(QTextFormat::ImageAltText);
            format.clearProperty(QTextFormat::ImageWidth);
            format.clearProperty(QTextFormat::ImageHeight);
            cursor.insertText(image->second, format);
        }
    }
}

// Qt's Markdown reader opens a table that follows a quote with an empty line in its first
// cell, which pushes that cell's text below the others in its row and drops a header cell's
// bold face. The empty line goes; its character format, the one the cell was meant to have, stays.
void dropEmptyFirstLinesInCells(QTextFrame* frame) {
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            for (int row = 0; row < table->rows(); ++row) {
                for (int column = 0; column < table->columns(); ++column) {
                    const QTextTableCell cell = table->cellAt(row, column);
                    const QTextBlock first = cell.firstCursorPosition().block();
                    if (!first.text().isEmpty() || first.next().position() > cell.lastPosition())
                        continue;
                    const QTextCharFormat meant = first.charFormat();
                    QTextCursor cursor(first);
                    cursor.deleteChar();
                    cursor.setPosition(cell.firstPosition());
                    cursor.setPosition(cell.lastPosition(), QTextCursor::KeepAnchor);
                    if (meant.hasProperty(QTextFormat::FontWeight)) {
                        QTextCharFormat weight;
                        weight.setFontWeight(meant.fontWeight());
                        cursor.mergeCharFormat(weight);
                    }
                }
            }
        }
        dropEmptyFirstLinesInCells(child);
    }
}

// A copy to measure at another width. QTextDocument::clone() crashes on a text that starts
// with a list item: it gives the copy's first block the original's list object.
std::unique_ptr<QTextDocument> layoutCopy(const QTextDocument& doc, CodeBlockObject& code) {
    auto copy = std::make_unique<QTextDocument>();
    code.registerWith(copy.get());
    copy->setDefaultFont(doc.defaultFont());
    copy->setDocumentMargin(doc.documentMargin());
    copy->setIndentWidth(doc.indentWidth());
    copy->setDefaultTextOption(doc.defaultTextOption());
    QTextCursor cursor(copy.get());
    cursor.insertFragment(QTextDocumentFragment(&doc));
    QTextBlockFormat first = doc.begin().blockFormat();
    first.clearProperty(QTextFormat::ObjectIndex);
    cursor.setPosition(0);
    cursor.setBlockFormat(first);
    return copy;
}

} // namespace

bool isOpenableLink(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http" || scheme == u"mailto");
}

MarkdownTextView::MarkdownTextView(const QFont& font, qreal lineSpacing, QWidget* parent)
    : QTextBrowser(parent)
    , m_font(font)
    , m_lineSpacing(lineSpacing)
    , m_codeObject(new CodeBlockObject(m_codeBlocks, this)) {
    setReadOnly(true);
    setOpenLinks(false);
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard |
                            Qt::LinksAccessibleByMouse);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& url) {
        if (isOpenableLink(url))
            QDesktopServices::openUrl(url);
    });
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    viewport()->setCursor(Qt::IBeamCursor);
    setDocument(new TextOnlyDocument(this));
    m_codeObject->registerWith(document());
    m_styleKey = markdownStyleKey(palette());
    document()->setDocumentMargin(0);
    document()->setUndoRedoEnabled(false);
    document()->setIndentWidth(18);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    applyStyle();
}

void MarkdownTextView::setMarkdown(const QString& markdown) {
    if (markdown == m_markdown)
        return;
    m_markdown = markdown;
    render();
}

QStringList independentMarkdownParts(const QString& markdown) {
    QStringList parts;
    qsizetype start = 0;
    qsizetype pos = 0;
    bool inFence = false;
    bool previousBlank = false;
    while (pos < markdown.size()) {
        const qsizetype newline = markdown.indexOf(QLatin1Char('\n'), pos);
        const qsizetype end = newline < 0 ? markdown.size() : newline;
        const QStringView line = QStringView(markdown).mid(pos, end - pos);
        const QStringView trimmed = line.trimmed();
        const bool blank = trimmed.isEmpty();
        if (!inFence && previousBlank && !blank && pos > start) {
            const QChar first = line.front();
            // A marker alone is the start of an item whose text has not arrived yet.
            const bool listItem = trimmed.startsWith(u"- ") || trimmed.startsWith(u"* ") ||
                                  trimmed.startsWith(u"+ ") || trimmed == u"-" || trimmed == u"*" ||
                                  trimmed == u"+" || first.isDigit();
            if (!first.isSpace() && !listItem && first != u'>' && first != u'|' && first != u'<') {
                parts << markdown.mid(start, pos - start);
                start = pos;
            }
        }
        if (trimmed.startsWith(u"```") || trimmed.startsWith(u"~~~"))
            inFence = !inFence;
        previousBlank = blank;
        pos = newline < 0 ? markdown.size() : newline + 1;
    }
    parts << markdown.mid(start);
    return parts;
}

namespace {

// A link reference definition anywhere changes links before it: such text is parsed whole.
bool hasLinkDefinitions(const QString& markdown) {
    static const QRegularExpression definition(QStringLiteral("^ {0,3}\\[[^\\]]+\\]:"),
                                               QRegularExpression::MultilineOption);
    return markdown.contains(definition);
}

} // namespace

void MarkdownTextView::render() {
    QTextDocument* doc = document();
    const bool extendsStable = m_stableLength > 0 && !hasLinkDefinitions(m_markdown) &&
                               QStringView(m_markdown).left(m_stableLength) == QStringView(m_previousStable);
    if (!extendsStable) {
        doc->clear();
        m_stableLength = 0;
        m_stableEnd = 0;
        m_stableCodeCount = 0;
        m_previousStable.clear();
    } else {
        QTextCursor tail(doc);
        tail.setPosition(m_stableEnd);
        tail.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        tail.removeSelectedText();
    }
    const QStringList parts = hasLinkDefinitions(m_markdown)
                                  ? QStringList{m_markdown}
                                  : independentMarkdownParts(m_markdown.mid(m_stableLength));
    m_codeCount = m_stableCodeCount;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        append(parts[i]);
        if (i + 1 < parts.size()) {
            m_stableLength += parts[i].size();
            m_stableCodeCount = m_codeCount;
            QTextCursor end(doc);
            end.movePosition(QTextCursor::End);
            m_stableEnd = end.position();
        }
    }
    m_previousStable = m_markdown.left(m_stableLength);
    while (m_codeBlocks.size() > m_codeCount)
        delete m_codeBlocks.takeLast();
    updateGeometry();
    arrangeCodeBlocks();
}

void MarkdownTextView::append(const QString& part) {
    const ProseWithCode prose = extractEmbeddedCode(part);
    TextOnlyDocument parsed;
    parsed.setMarkdown(prose.markdown, markdownFeatures);
    replaceImagesWithAltText(parsed);
    dropEmptyFirstLinesInCells(parsed.rootFrame());
    applyMarkdownStyle(parsed, palette(), m_font);
    showCode(parsed, prose.code);
    // A code fence just opened, for one, shows nothing yet.
    if (parsed.isEmpty() && parsed.begin().blockFormat() == QTextBlockFormat())
        return;
    QTextDocument* doc = document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    if (!doc->isEmpty())
        cursor.insertBlock(QTextBlockFormat(), QTextCharFormat());
    const int start = cursor.position();
    cursor.insertFragment(QTextDocumentFragment(&parsed));
    QTextCursor first(doc);
    first.setPosition(start);
    // A fragment that opens with a list puts the list after the empty block it was inserted
    // into: that block would stand as a blank line before the first item.
    if (first.block().text().isEmpty() && !parsed.begin().text().isEmpty() &&
        first.block().next().isValid()) {
        first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        first.removeSelectedText();
    }
    // An inserted fragment leaves the block it lands in with that block's format; the list it
    // belongs to is this document's, not the parsed one's.
    QTextBlockFormat format = parsed.begin().blockFormat();
    format.setObjectIndex(first.blockFormat().objectIndex());
    first.setBlockFormat(format);
    first.setBlockCharFormat(parsed.begin().charFormat());

    QTextCursor inserted(doc);
    inserted.setPosition(start);
    inserted.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    QTextBlockFormat spacing;
    spacing.setLineHeight(m_lineSpacing, QTextBlockFormat::LineDistanceHeight);
    inserted.mergeBlockFormat(spacing);
}

// Each code block's view is ready before the text that makes room for it is laid out.
void MarkdownTextView::showCode(QTextDocument& parsed, const QList<MarkdownSegment>& code) {
    for (qsizetype i = 0; i < code.size(); ++i) {
        const qsizetype index = m_codeCount + i;
        if (index == m_codeBlocks.size()) {
            auto* view = new CodeBlockView(m_font, viewport());
            view->hide();
            connect(view, &CodeBlockView::copyRequested, this, &MarkdownTextView::codeCopyRequested);
            m_codeBlocks.append(view);
        }
        m_codeBlocks[index]->setCode(code[i].text, code[i].language);
    }
    for (QTextBlock block = parsed.begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (text.size() < 3 || text.front() != embeddedCodePlaceholder(0).front())
            continue;
        for (qsizetype i = 0; i < code.size(); ++i) {
            if (text != embeddedCodePlaceholder(i))
                continue;
            QTextCursor cursor(block);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText(QString(QChar::ObjectReplacementCharacter),
                              CodeBlockObject::format(int(m_codeCount + i)));
            break;
        }
    }
    m_codeCount += int(code.size());
}

// The code blocks' views lie over the room the text makes for them.
void MarkdownTextView::arrangeCodeBlocks() {
    QList<bool> placed(m_codeBlocks.size(), false);
    const QPoint scrolled(horizontalScrollBar()->value(), verticalScrollBar()->value());
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        const int index = CodeBlockObject::indexAt(block);
        if (index < 0 || index >= m_codeBlocks.size())
            continue;
        document()->documentLayout()->blockBoundingRect(block);
        const QTextLine line = block.layout()->lineAt(0);
        if (!line.isValid())
            continue;
        const QPointF at = block.layout()->position() + QPointF(line.cursorToX(0), line.y());
        CodeBlockView* view = m_codeBlocks[index];
        const int width = int(CodeBlockObject::availableWidth(document(), block));
        view->setGeometry(QRect(at.toPoint() - scrolled, QSize(width, view->heightForWidth(width))));
        placed[index] = true;
    }
    for (qsizetype i = 0; i < m_codeBlocks.size(); ++i)
        m_codeBlocks[i]->setVisible(placed[i]);
}

QString MarkdownTextView::withCode(const QString& text, int start) const {
    QString shown = text;
    for (qsizetype i = shown.size() - 1; i >= 0; --i) {
        if (shown[i] != QChar::ObjectReplacementCharacter)
            continue;
        QTextCursor cursor(document());
        cursor.setPosition(start + int(i) + 1);
        const QTextCharFormat format = cursor.charFormat();
        const int index = format.objectType() == CodeBlockObject::objectType
                              ? format.intProperty(CodeBlockObject::indexProperty)
                              : -1;
        if (index >= 0 && index < m_codeBlocks.size())
            shown.replace(i, 1, m_codeBlocks[index]->code());
    }
    return shown;
}

QString MarkdownTextView::shownText() const {
    return withCode(toPlainText(), 0);
}

// A selection that holds a code block copies its code, as plain text.
QMimeData* MarkdownTextView::createMimeDataFromSelection() const {
    const QTextCursor cursor = textCursor();
    const QString selected = cursor.selection().toPlainText();
    if (!selected.contains(QChar::ObjectReplacementCharacter))
        return QTextBrowser::createMimeDataFromSelection();
    auto* data = new QMimeData;
    data->setText(withCode(selected, cursor.selectionStart()));
    return data;
}

int MarkdownTextView::idealWidth() const {
    const std::unique_ptr<QTextDocument> copy = layoutCopy(*document(), *m_codeObject);
    copy->setTextWidth(-1);
    return static_cast<int>(std::ceil(copy->idealWidth()));
}

int MarkdownTextView::heightForWidth(int width) const {
    const QTextDocument* doc = document();
    if (std::abs(doc->textWidth() - width) < 0.5)
        return static_cast<int>(std::ceil(doc->size().height()));
    const std::unique_ptr<QTextDocument> copy = layoutCopy(*doc, *m_codeObject);
    copy->setTextWidth(width);
    return static_cast<int>(std::ceil(copy->size().height()));
}

QSize MarkdownTextView::sizeHint() const {
    const int width = std::max(1, static_cast<int>(document()->textWidth()));
    return {width, heightForWidth(width)};
}

QSize MarkdownTextView::minimumSizeHint() const {
    return {0, 0};
}

void MarkdownTextView::resizeEvent(QResizeEvent* event) {
    const qreal before = document()->textWidth();
    QTextBrowser::resizeEvent(event);
    if (std::abs(document()->textWidth() - before) >= 0.5)
        updateGeometry();
    verticalScrollBar()->setValue(0);
    arrangeCodeBlocks();
}

void MarkdownTextView::changeEvent(QEvent* event) {
    QTextBrowser::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ApplicationPaletteChange) {
        applyStyle();
        if (markdownStyleKey(palette()) != m_styleKey)
            renderAgain();
    }
}

// The colours of code, quotes and tables are the palette's: a new palette styles the text anew.
void MarkdownTextView::renderAgain() {
    m_styleKey = markdownStyleKey(palette());
    m_stableLength = 0;
    m_previousStable.clear();
    render();
}

void MarkdownTextView::applyStyle() {
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
