#include "SpinnerView.h"

#include "OverlayStyle.h"

#include <QPainter>

namespace quill {

namespace {

constexpr int layoutSize = 24;
constexpr int frameInterval = 16;
constexpr int degreesPerFrame = 6;

} // namespace

SpinnerView::SpinnerView(qreal scale, QWidget* parent) : QWidget(parent), m_scale(scale) {
    setFixedSize(SpinnerView::sizeHint());
    m_timer.setInterval(frameInterval);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_angle = (m_angle + degreesPerFrame) % 360;
        update();
    });
}

QSize SpinnerView::sizeHint() const {
    return {layoutSize, layoutSize};
}

void SpinnerView::showEvent(QShowEvent*) {
    m_timer.start();
}

void SpinnerView::hideEvent(QHideEvent*) {
    m_timer.stop();
}

void SpinnerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal diameter = layoutSize * m_scale;
    const qreal stroke = std::max(1.5, diameter / 9.0);
    const QRectF circle(QPointF(width() - diameter, height() - diameter) / 2.0 +
                            QPointF(stroke / 2, stroke / 2),
                        QSizeF(diameter - stroke, diameter - stroke));
    const QColor color = OverlayStyle::secondary(palette());
    painter.setPen(QPen(OverlayStyle::withOpacity(color, 0.25), stroke));
    painter.drawEllipse(circle);
    painter.setPen(QPen(color, stroke, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(circle, -m_angle * 16, 100 * 16);
}

} // namespace quill
