#pragma once

#include <QTimer>
#include <QWidget>

namespace quill {

// An indeterminate circular progress indicator, drawn at `scale` of its layout size.
class SpinnerView : public QWidget {
    Q_OBJECT
public:
    explicit SpinnerView(qreal scale, QWidget* parent = nullptr);

    qreal scale() const { return m_scale; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    qreal m_scale;
    int m_angle = 0;
    QTimer m_timer;
};

} // namespace quill
