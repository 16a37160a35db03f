#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>

class QPalette;
class QWidget;

namespace quill::OverlayStyle {

// The overlay's semantic text styles and colours, taken from the desktop's font and palette
// so the panel follows light and dark themes.
QFont headline();
QFont body();
QFont callout();
QFont caption();

QColor primary(const QPalette& palette);
QColor secondary(const QPalette& palette);
QColor accent(const QPalette& palette);
QColor orange(const QPalette& palette);
QColor cardBackground(const QPalette& palette, bool translucent);
bool isDark(const QPalette& palette);

// One of the overlay's icons, drawn in `color` at `size` logical pixels for `widget`'s screen.
QPixmap icon(const QString& name, const QColor& color, int size, const QWidget* widget);

// `color` with its alpha multiplied by `opacity`.
QColor withOpacity(QColor color, qreal opacity);

} // namespace quill::OverlayStyle
