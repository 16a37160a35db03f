#include "MarkdownTextView.h"

#include "MarkdownDocumentStyle.h"
#include "OverlayStyle.h"

#include <QDesktopServices>
#include <QEvent>
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
std::unique_ptr<QTextDocument> layoutCopy(const QTextDocument& doc) {
    auto copy = std::make_unique<QTextDocument>();
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
    , m_lineSpacing(lineSpacing) {
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
    for (qsizetype i = 0; i < parts.size(); ++i) {
        append(parts[i]);
        if (i + 1 < parts.size()) {
            m_stableLength += parts[i].size();
            QTextCursor end(doc);
            end.movePosition(QTextCursor::End);
            m_stableEnd = end.position();
        }
    }
    m_previousStable = m_markdown.left(m_stableLength);
    updateGeometry();
}

void MarkdownTextView::append(const QString& part) {
    TextOnlyDocument parsed;
    parsed.setMarkdown(part, markdownFeatures);
    replaceImagesWithAltText(parsed);
    dropEmptyFirstLinesInCells(parsed.rootFrame());
    applyMarkdownStyle(parsed, palette(), m_font);
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

int MarkdownTextView::idealWidth() const {
    const std::unique_ptr<QTextDocument> copy = layoutCopy(*document());
    copy->setTextWidth(-1);
    return static_cast<int>(std::ceil(copy->idealWidth()));
}

int MarkdownTextView::heightForWidth(int width) const {
    const QTextDocument* doc = document();
    if (std::abs(doc->textWidth() - width) < 0.5)
        return static_cast<int>(std::ceil(doc->size().height()));
    const std::unique_ptr<QTextDocument> copy = layoutCopy(*doc);
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
