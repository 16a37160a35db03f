#pragma once

#include <QEasingCurve>
#include <QElapsedTimer>
#include <QTimer>
#include <QVector>
#include <QWidget>

namespace quill {

// A row of bars that light up from the left as the microphone level rises.
class AudioLevelIndicator : public QWidget {
    Q_OBJECT
public:
    explicit AudioLevelIndicator(int barCount = 5, QWidget* parent = nullptr);

    void setLevel(float level);
    float level() const { return m_level; }
    int barCount() const { return m_barCount; }

    // Where the bars are heading once the current animation ends.
    bool isLit(int bar) const;
    int barHeight(int bar) const;

    void setAnimationDuration(int milliseconds) { m_animationMs = milliseconds; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Bar {
        qreal height;
        qreal lit; // 0 unlit .. 1 lit, blended while animating
        bool operator==(const Bar&) const = default;
    };
    QVector<Bar> targetBars() const;
    QRect barRect(int bar) const;
    // Takes `bars` as the shown state and repaints the bars whose drawing changes.
    void present(const QVector<Bar>& bars);
    void nextFrame();

    int m_barCount;
    float m_level = 0.0f;
    QVector<Bar> m_from;
    QVector<Bar> m_shown;
    QVector<Bar> m_drawn;
    int m_animationMs;
    QEasingCurve m_easing;
    QElapsedTimer m_animationClock;
    QTimer m_frameTimer;
};

} // namespace quill
