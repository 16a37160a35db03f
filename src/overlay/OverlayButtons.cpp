#include "OverlayButtons.h"

#include "OverlayStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace quill {

namespace {

constexpr int pillPaddingX = 8;
constexpr int pillPaddingY = 4;
constexpr int pillSpacing = 4;
constexpr qreal pillRadius = 4;

} // namespace

PlainTextButton::PlainTextButton(QWidget* parent) : QAbstractButton(parent) {
    setFont(OverlayStyle::caption());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

QSize PlainTextButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()), metrics.height()};
}

void PlainTextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const qreal opacity = isDown() ? 1.0 : m_hovered ? 0.9 : 0.7;
    painter.setPen(OverlayStyle::withOpacity(OverlayStyle::secondary(palette()), opacity));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter, text());
}

void PlainTextButton::enterEvent(QEnterEvent*) {
    m_hovered = true;
    update();
}

void PlainTextButton::leaveEvent(QEvent*) {
    m_hovered = false;
    update();
}

PillButton::PillButton(Tint tint, QWidget* parent) : QAbstractButton(parent), m_tint(tint) {
    setFont(OverlayStyle::caption());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

void PillButton::setIconName(const QString& name) {
    m_iconName = name;
    update();
}

QSize PillButton::sizeHint() const {
    const QFontMetrics metrics(font());
    const int iconSize = metrics.height();
    return {pillPaddingX * 2 + iconSize + pillSpacing + metrics.horizontalAdvance(text()),
            pillPaddingY * 2 + metrics.height()};
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& pal = palette();
    const QColor base = m_tint == Tint::accent ? OverlayStyle::accent(pal) : OverlayStyle::secondary(pal);
    const qreal opacity = m_tint == Tint::accent ? 0.2 : 0.1;
    const qreal emphasis = isDown() ? 1.8 : m_hovered ? 1.4 : 1.0;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), pillRadius, pillRadius);
    painter.fillPath(shape, OverlayStyle::withOpacity(base, opacity * emphasis));

    const QColor ink = m_tint == Tint::accent ? OverlayStyle::primary(pal) : OverlayStyle::secondary(pal);
    const QFontMetrics metrics(font());
    const int iconSize = metrics.height();
    const int contentWidth = iconSize + pillSpacing + metrics.horizontalAdvance(text());
    const int x = (width() - contentWidth) / 2;
    const int iconDrawn = iconSize - 2;
    painter.drawPixmap(x + 1, (height() - iconDrawn) / 2,
                       OverlayStyle::icon(m_iconName, ink, iconDrawn, this));
    painter.setPen(ink);
    painter.setFont(font());
    painter.drawText(QRect(x + iconSize + pillSpacing, 0, width(), height()),
                     Qt::AlignVCenter | Qt::AlignLeft, text());
}

void PillButton::enterEvent(QEnterEvent*) {
    m_hovered = true;
    update();
}

void PillButton::leaveEvent(QEvent*) {
    m_hovered = false;
    update();
}

IconButton::IconButton(QString iconName, int iconSize, QWidget* parent)
    : QAbstractButton(parent)
    , m_iconName(std::move(iconName))
    , m_iconSize(iconSize) {
    setFocusPolicy(Qt::NoFocus);
    setFixedSize(IconButton::sizeHint());
}

QSize IconButton::sizeHint() const {
    return {m_iconSize + 4, m_iconSize + 4};
}

void IconButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor color = OverlayStyle::withOpacity(OverlayStyle::secondary(palette()), isDown()    ? 1.3
                                                                                       : m_hovered ? 1.15
                                                                                                   : 0.85);
    const QRect target((width() - m_iconSize) / 2, (height() - m_iconSize) / 2, m_iconSize, m_iconSize);
    painter.drawPixmap(target.topLeft(), OverlayStyle::icon(m_iconName, color, m_iconSize, this));
}

void IconButton::enterEvent(QEnterEvent*) {
    m_hovered = true;
    update();
}

void IconButton::leaveEvent(QEvent*) {
    m_hovered = false;
    update();
}

} // namespace quill
