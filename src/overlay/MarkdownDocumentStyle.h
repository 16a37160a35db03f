#pragma once

#include <QFont>
#include <QList>
#include <QRgb>

class QPalette;
class QTextDocument;

namespace quill {

// Sets parsed Markdown apart the way the panel shows it: inline code in a monospace face on a
// tinted background, code blocks tinted, quotes in the secondary colour, tables with light
// rules, links in the accent colour. Only looks at each block and fragment alone, so styling
// parts of a text one by one gives what styling the whole gives.
void applyMarkdownStyle(QTextDocument& document, const QPalette& palette, const QFont& font);

// The colours the style takes from `palette`: when these change, the style must be applied anew.
QList<QRgb> markdownStyleKey(const QPalette& palette);

// The monospace face of code, at the size of `font`.
QFont codeFont(const QFont& font);

// The tint behind code, readable on the panel in light and dark palettes.
QColor codeBackground(const QPalette& palette);

} // namespace quill
