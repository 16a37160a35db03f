#include "MarkdownDocumentStyle.h"

#include "OverlayStyle.h"

#include <QFontDatabase>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>

namespace quill {

namespace {

constexpr qreal codeScale = 0.92;
constexpr qreal quoteIndent = 14;
constexpr qreal headingTopMargin = 8;
constexpr qreal tableCellPadding = 4;
// As much room above and below a table as a paragraph has: a table never touches the text above.
constexpr qreal tableMargin = 6;

bool isCodeBlock(const QTextBlockFormat& format) {
    return format.hasProperty(QTextFormat::BlockCodeFence) ||
           format.hasProperty(QTextFormat::BlockCodeLanguage) || format.nonBreakableLines();
}

// A panel a few hundred pixels wide has no room for the sizes of a page's title.
int headingSizeAdjustment(int level) {
    return level <= 1 ? 2 : level == 2 ? 1 : 0;
}

void styleFragments(QTextDocument& document, const QTextBlock& block, const QPalette& palette,
                    const QFont& font, bool codeBlock) {
    const QFont code = codeFont(font);
    const int heading = block.blockFormat().headingLevel();
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        if (!fragment.isValid())
            continue;
        QTextCharFormat format = fragment.charFormat();
        bool changed = false;
        if (codeBlock || format.fontFixedPitch()) {
            format.setFontFamilies(code.families());
            format.setFontPointSize(code.pointSizeF());
            format.setFontFixedPitch(true);
            format.setForeground(OverlayStyle::primary(palette));
            if (!codeBlock)
                format.setBackground(codeBackground(palette));
            changed = true;
        }
        if (format.isAnchor()) {
            format.setForeground(OverlayStyle::accent(palette));
            format.setFontUnderline(true);
            changed = true;
        }
        if (heading > 0) {
            format.setProperty(QTextFormat::FontSizeAdjustment, headingSizeAdjustment(heading));
            format.setFontWeight(QFont::DemiBold);
            changed = true;
        }
        if (!changed)
            continue;
        QTextCursor cursor(&document);
        cursor.setPosition(fragment.position());
        cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        cursor.setCharFormat(format);
    }
}

void styleTables(QTextFrame* frame, const QPalette& palette) {
    for (QTextFrame* child : frame->childFrames()) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            QTextTableFormat format = table->format();
            format.setBorder(1);
            format.setBorderBrush(OverlayStyle::withOpacity(OverlayStyle::primary(palette), 0.2));
            format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
            format.setBorderCollapse(true);
            format.setCellPadding(tableCellPadding);
            format.setCellSpacing(0);
            format.setTopMargin(tableMargin);
            format.setBottomMargin(tableMargin);
            table->setFormat(format);
        }
        styleTables(child, palette);
    }
}

} // namespace

QFont codeFont(const QFont& font) {
    QFont code = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (font.pointSizeF() > 0)
        code.setPointSizeF(font.pointSizeF() * codeScale);
    return code;
}

QColor codeBackground(const QPalette& palette) {
    return OverlayStyle::withOpacity(OverlayStyle::primary(palette),
                                     OverlayStyle::isDark(palette) ? 0.12 : 0.07);
}

QList<QRgb> markdownStyleKey(const QPalette& palette) {
    return {OverlayStyle::primary(palette).rgba(), OverlayStyle::accent(palette).rgba(),
            palette.color(QPalette::Window).rgba()};
}

void applyMarkdownStyle(QTextDocument& document, const QPalette& palette, const QFont& font) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        QTextBlockFormat format = block.blockFormat();
        const bool codeBlock = isCodeBlock(format);
        bool changed = false;
        if (codeBlock) {
            // Inside a list or quote a code block cannot scroll on its own: it wraps instead.
            format.setNonBreakableLines(false);
            format.setBackground(codeBackground(palette));
            changed = true;
        }
        if (format.headingLevel() > 0) {
            format.setTopMargin(headingTopMargin);
            changed = true;
        }
        if (format.hasProperty(QTextFormat::BlockQuoteLevel)) {
            format.setLeftMargin(quoteIndent * format.intProperty(QTextFormat::BlockQuoteLevel));
            format.setRightMargin(0);
            changed = true;
        }
        if (changed) {
            QTextCursor cursor(block);
            cursor.setBlockFormat(format);
        }
        // The quote's colour first, so that code in a quote keeps the colour that reads on its tint.
        if (format.hasProperty(QTextFormat::BlockQuoteLevel)) {
            QTextCursor cursor(block);
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            QTextCharFormat quoted;
            quoted.setForeground(OverlayStyle::secondary(palette));
            cursor.mergeCharFormat(quoted);
        }
        styleFragments(document, block, palette, font, codeBlock);
    }
    styleTables(document.rootFrame(), palette);
}

} // namespace quill
