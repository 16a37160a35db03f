#pragma once

#include <QImage>
#include <QWidget>
#include <array>

namespace quill {

class ExplanationView;
class PanelWindowHelper;
class ResizeHandle;

// The floating top-level window that carries the card: never takes focus, stays above other
// windows, moves when its background is dragged, resizes when its edges are dragged (within the
// panel's size limits), and draws the card's shadow when the window system can blend it.
class OverlayPanelWindow : public QWidget {
    Q_OBJECT
public:
    OverlayPanelWindow(PanelWindowHelper& helper, QWidget* parent = nullptr);

    void setCard(ExplanationView* card);
    ExplanationView* card() const { return m_card; }

    // With a compositor the card sits inside a margin that holds its shadow; without one the
    // window is cut to the card's rounded shape.
    void setComposited(bool composited);
    bool isComposited() const { return m_composited; }
    QMargins shadowMargins() const;

    QRect cardGeometry() const;
    void setCardGeometry(const QRect& card);

    // The strip along `edges` (one edge, or two for a corner) that resizes the card when dragged.
    QWidget* resizeHandle(Qt::Edges edges) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void updateShape();
    void updateSizeLimits();
    void placeResizeHandles();
    QImage renderShadow(QSize cardSize) const;

    PanelWindowHelper& m_helper;
    ExplanationView* m_card = nullptr;
    bool m_composited = true;
    QImage m_shadow;
    std::optional<QPoint> m_dragOffset;
    std::array<ResizeHandle*, 8> m_resizeHandles{};
};

} // namespace quill
