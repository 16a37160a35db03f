#include "OverlayPanelWindow.h"

#include "ExplanationView.h"
#include "PanelPlacement.h"
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
// The grip along each edge of the card, and the length of each corner's grip along its edges.
constexpr int edgeGrip = 4;
constexpr int cornerGrip = 12;

constexpr std::array<Qt::Edges, 8> handleEdges = {
    Qt::Edges(Qt::TopEdge),        Qt::Edges(Qt::BottomEdge),      Qt::Edges(Qt::LeftEdge),
    Qt::Edges(Qt::RightEdge),      Qt::TopEdge | Qt::LeftEdge,     Qt::TopEdge | Qt::RightEdge,
    Qt::BottomEdge | Qt::LeftEdge, Qt::BottomEdge | Qt::RightEdge,
};

Qt::CursorShape cursorFor(Qt::Edges edges) {
    if (edges == (Qt::TopEdge | Qt::LeftEdge) || edges == (Qt::BottomEdge | Qt::RightEdge))
        return Qt::SizeFDiagCursor;
    if (edges == (Qt::TopEdge | Qt::RightEdge) || edges == (Qt::BottomEdge | Qt::LeftEdge))
        return Qt::SizeBDiagCursor;
    return edges & (Qt::LeftEdge | Qt::RightEdge) ? Qt::SizeHorCursor : Qt::SizeVerCursor;
}

// The card dragged by `edges` by `delta`, within the panel's size limits; the opposite edges stay.
QRect resized(const QRect& card, Qt::Edges edges, QPoint delta) {
    QRect result = card;
    if (edges & Qt::LeftEdge)
        result.setLeft(card.right() + 1 - PanelPlacement::clampedWidth(card.width() - delta.x()));
    if (edges & Qt::RightEdge)
        result.setWidth(PanelPlacement::clampedWidth(card.width() + delta.x()));
    if (edges & Qt::TopEdge)
        result.setTop(card.bottom() + 1 - PanelPlacement::clampedHeight(card.height() - delta.y()));
    if (edges & Qt::BottomEdge)
        result.setHeight(PanelPlacement::clampedHeight(card.height() + delta.y()));
    return result;
}

// Three box blurs of the alpha channel approximate a Gaussian of the given radius.
void boxBlurAlpha(QImage& image, int radius) {
    const int w = image.width();
    const int h = image.height();
    std::vector<int> line(static_cast<size_t>(std::max(w, h)));
    // Taken once: scanLine() checks whether to detach at every call, which cost most of the blur.
    uchar* const bits = image.bits();
    const qsizetype stride = image.bytesPerLine();
    auto pass = [&](bool horizontal) {
        const int count = horizontal ? w : h;
        const int lines = horizontal ? h : w;
        for (int l = 0; l < lines; ++l) {
            auto pixel = [&](int i) -> uchar& {
                const qsizetype along = i;
                const qsizetype across = l;
                return horizontal ? bits[across * stride + along * 4 + 3]
                                  : bits[along * stride + across * 4 + 3];
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

// Asks the window manager to resize the panel, which then honours the size limits itself; where
// it cannot, follows the pointer here.
class ResizeHandle : public QWidget {
public:
    ResizeHandle(Qt::Edges edges, OverlayPanelWindow* panel)
        : QWidget(panel)
        , m_edges(edges)
        , m_panel(panel) {
        setCursor(cursorFor(edges));
        setAttribute(Qt::WA_NoSystemBackground);
    }

    Qt::Edges edges() const { return m_edges; }

protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton)
            return;
        QWindow* window = m_panel->windowHandle();
        if (window && window->startSystemResize(m_edges))
            return;
        m_pressed = event->globalPosition().toPoint();
        m_startCard = m_panel->cardGeometry();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (m_pressed)
            m_panel->setCardGeometry(
                resized(m_startCard, m_edges, event->globalPosition().toPoint() - *m_pressed));
    }
    void mouseReleaseEvent(QMouseEvent*) override { m_pressed.reset(); }

private:
    Qt::Edges m_edges;
    OverlayPanelWindow* m_panel;
    std::optional<QPoint> m_pressed;
    QRect m_startCard;
};

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
    for (size_t i = 0; i < handleEdges.size(); ++i)
        m_resizeHandles[i] = new ResizeHandle(handleEdges[i], this);
    updateSizeLimits();
}

void OverlayPanelWindow::setCard(ExplanationView* card) {
    m_card = card;
    layout()->addWidget(card);
    placeResizeHandles();
}

QWidget* OverlayPanelWindow::resizeHandle(Qt::Edges edges) const {
    for (ResizeHandle* handle : m_resizeHandles) {
        if (handle->edges() == edges)
            return handle;
    }
    return nullptr;
}

void OverlayPanelWindow::updateSizeLimits() {
    const QMargins margins = shadowMargins();
    setMinimumSize(PanelPlacement::minSize.grownBy(margins));
    setMaximumSize(PanelPlacement::maxSize.grownBy(margins));
}

void OverlayPanelWindow::placeResizeHandles() {
    const QRect card = rect().marginsRemoved(shadowMargins());
    const int inner = std::max(0, card.width() - 2 * cornerGrip);
    const int innerHeight = std::max(0, card.height() - 2 * cornerGrip);
    const int right = card.x() + card.width();
    const int bottom = card.y() + card.height();
    const std::array<QRect, 8> areas = {
        QRect(card.x() + cornerGrip, card.y(), inner, edgeGrip),
        QRect(card.x() + cornerGrip, bottom - edgeGrip, inner, edgeGrip),
        QRect(card.x(), card.y() + cornerGrip, edgeGrip, innerHeight),
        QRect(right - edgeGrip, card.y() + cornerGrip, edgeGrip, innerHeight),
        QRect(card.x(), card.y(), cornerGrip, cornerGrip),
        QRect(right - cornerGrip, card.y(), cornerGrip, cornerGrip),
        QRect(card.x(), bottom - cornerGrip, cornerGrip, cornerGrip),
        QRect(right - cornerGrip, bottom - cornerGrip, cornerGrip, cornerGrip),
    };
    for (size_t i = 0; i < areas.size(); ++i) {
        m_resizeHandles[i]->setGeometry(areas[i]);
        m_resizeHandles[i]->raise();
    }
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
    updateSizeLimits();
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
    placeResizeHandles();
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
        // Showing and resizing both come here; the blur is the dearest part of showing the panel.
        if (m_shadow.size() != rect().size() || card.isEmpty())
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
