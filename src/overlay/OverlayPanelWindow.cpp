#include "OverlayPanelWindow.h"

#include "ExplanationView.h"
#include "platform/PanelWindowHelper.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>
#include <QWindow>
#include <cmath>

namespace quill {

namespace {

// Black at 30 % opacity, blurred over 20 px and dropped 10 px.
constexpr int shadowRadius = 20;
constexpr int shadowOffsetY = 10;
constexpr qreal shadowOpacity = 0.3;

// Three box blurs of the alpha channel approximate a Gaussian of the given radius.
void boxBlurAlpha(QImage& image, int radius) {
    const int w = image.width();
    const int h = image.height();
    std::vector<int> line(static_cast<size_t>(std::max(w, h)));
    auto pass = [&](bool horizontal) {
        const int count = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            auto pixel = [&](int i) -> uchar& {
                return horizontal ? image.scanLine(l)[i * 4 + 3] : image.scanLine(i)[l * 4 + 3];
            };
            for (int i = 0; i < count; ++i)
                line[static_cast<size_t>(i)] = pixel(i);
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += (i >= 0 && i < count) ? line[static_cast<size_t>(i)] : 0;
            for (int i = 0; i < count; ++i) {
                pixel(i) = static_cast<uchar>(sum / (2 * radius + 1));
                const int out = i - radius;
                const int in = i + radius + 1;
                sum -= (out >= 0) ? line[static_cast<size_t>(out)] : 0;
                sum += (in < count) ? line[static_cast<size_t>(in)] : 0;
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass(true);
        pass(false);
    }
}

} // namespace

OverlayPanelWindow::OverlayPanelWindow(PanelWindowHelper& helper, QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_helper(helper) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_AlwaysShowToolTips);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Quillpoint"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(shadowMargins());
}

void OverlayPanelWindow::setCard(ExplanationView* card) {
    m_card = card;
    layout()->addWidget(card);
}

QMargins OverlayPanelWindow::shadowMargins() const {
    if (!m_composited)
        return {};
    return {shadowRadius, shadowRadius - shadowOffsetY, shadowRadius, shadowRadius + shadowOffsetY};
}

void OverlayPanelWindow::setComposited(bool composited) {
    if (composited == m_composited)
        return;
    const QRect card = cardGeometry();
    m_composited = composited;
    layout()->setContentsMargins(shadowMargins());
    if (m_card)
        m_card->setTranslucent(composited);
    setCardGeometry(card);
    updateShape();
}

QRect OverlayPanelWindow::cardGeometry() const {
    return geometry().marginsRemoved(shadowMargins());
}

void OverlayPanelWindow::setCardGeometry(const QRect& card) {
    setGeometry(card.marginsAdded(shadowMargins()));
}

void OverlayPanelWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    updateShape();
}

void OverlayPanelWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    updateShape();
}

void OverlayPanelWindow::updateShape() {
    const QRect card = rect().marginsRemoved(shadowMargins());
    if (m_composited) {
        clearMask();
        m_shadow = renderShadow(card.size());
        if (windowHandle())
            m_helper.setInputRegion(windowHandle(), QRegion(card));
        return;
    }
    m_shadow = QImage();
    QPainterPath shape;
    shape.addRoundedRect(QRectF(card), ExplanationView::cornerRadius, ExplanationView::cornerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
}

QImage OverlayPanelWindow::renderShadow(QSize cardSize) const {
    if (cardSize.isEmpty())
        return {};
    const QMargins margins = shadowMargins();
    QImage image(cardSize.grownBy(margins), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, static_cast<int>(255 * shadowOpacity)));
        painter.drawRoundedRect(
            QRectF(QPointF(margins.left(), margins.top() + shadowOffsetY), QSizeF(cardSize)),
            ExplanationView::cornerRadius, ExplanationView::cornerRadius);
    }
    boxBlurAlpha(image, shadowRadius / 3);
    return image;
}

void OverlayPanelWindow::paintEvent(QPaintEvent*) {
    if (m_shadow.isNull())
        return;
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, m_shadow);
}

void OverlayPanelWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragOffset = event->globalPosition().toPoint() - pos();
}

void OverlayPanelWindow::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragOffset)
        move(event->globalPosition().toPoint() - *m_dragOffset);
}

void OverlayPanelWindow::mouseReleaseEvent(QMouseEvent*) {
    m_dragOffset.reset();
}

} // namespace quill
