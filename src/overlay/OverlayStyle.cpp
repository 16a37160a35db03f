#include "OverlayStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>
#include <QWidget>

namespace quill::OverlayStyle {

namespace {

QFont scaled(qreal factor, qreal minimumPoints) {
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(std::max(minimumPoints, font.pointSizeF() * factor));
    return font;
}

} // namespace

QFont headline() {
    QFont font = QApplication::font();
    font.setWeight(QFont::DemiBold);
    return font;
}

QFont body() {
    return QApplication::font();
}

QFont callout() {
    return scaled(0.93, 8.0);
}

QFont caption() {
    return scaled(0.85, 7.5);
}

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor primary(const QPalette& palette) {
    return palette.color(QPalette::WindowText);
}

QColor secondary(const QPalette& palette) {
    return withOpacity(primary(palette), isDark(palette) ? 0.6 : 0.55);
}

QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

QColor orange(const QPalette& palette) {
    return isDark(palette) ? QColor(255, 159, 10) : QColor(245, 140, 0);
}

QColor cardBackground(const QPalette& palette, bool translucent) {
    QColor color = palette.color(QPalette::Window);
    color = isDark(palette) ? color.darker(112) : color.lighter(103);
    return translucent ? withOpacity(color, 0.97) : color;
}

QColor withOpacity(QColor color, qreal opacity) {
    color.setAlphaF(std::clamp(static_cast<float>(color.alphaF() * opacity), 0.0f, 1.0f));
    return color;
}

QPixmap icon(const QString& name, const QColor& color, int size, const QWidget* widget) {
    const qreal ratio = widget ? widget->devicePixelRatioF() : qApp->devicePixelRatio();
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    QSvgRenderer renderer(QStringLiteral(":/overlay/%1.svg").arg(name));
    renderer.render(&painter, QRectF(0, 0, size, size));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(QRectF(0, 0, size, size), color);
    return pixmap;
}

} // namespace quill::OverlayStyle
