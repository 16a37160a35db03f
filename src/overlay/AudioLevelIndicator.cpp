#include "AudioLevelIndicator.h"

#include "OverlayStyle.h"

#include <QPaintEvent>
#include <QPainter>
#include <cmath>

namespace quill {

namespace {

constexpr int frameWidth = 24;
constexpr int frameHeight = 20;
constexpr int barWidth = 3;
constexpr int barSpacing = 2;
constexpr int unlitHeight = 4;
constexpr int levelAnimationMs = 100;
// Each frame costs a repaint of the translucent panel and a round trip to the display server;
// while the user speaks a change starts every 100 ms. Three frames per change still read as a
// smooth rise and fall, at half the cost of following the display's 60 Hz.
constexpr int frameIntervalMs = 33;

QEasingCurve easeOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

} // namespace

AudioLevelIndicator::AudioLevelIndicator(int barCount, QWidget* parent)
    : QWidget(parent)
    , m_barCount(barCount)
    , m_animationMs(levelAnimationMs)
    , m_easing(easeOut()) {
    setFixedSize(AudioLevelIndicator::sizeHint());
    m_shown = m_drawn = targetBars();
    m_frameTimer.setInterval(frameIntervalMs);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, &AudioLevelIndicator::nextFrame);
}

void AudioLevelIndicator::nextFrame() {
    const qint64 elapsed = m_animationClock.elapsed();
    // A frame due less than half an interval before the end is the last one.
    const bool last = elapsed + frameIntervalMs / 2 >= m_animationMs;
    const qreal t = last ? 1.0 : m_easing.valueForProgress(qreal(elapsed) / m_animationMs);
    const QVector<Bar> target = targetBars();
    QVector<Bar> next = m_shown;
    for (int i = 0; i < m_barCount; ++i) {
        next[i].height = m_from[i].height + (target[i].height - m_from[i].height) * t;
        next[i].lit = m_from[i].lit + (target[i].lit - m_from[i].lit) * t;
    }
    if (last)
        m_frameTimer.stop();
    present(next);
}

QSize AudioLevelIndicator::sizeHint() const {
    return {frameWidth, frameHeight};
}

bool AudioLevelIndicator::isLit(int bar) const {
    return m_level > static_cast<float>(bar) / static_cast<float>(m_barCount);
}

int AudioLevelIndicator::barHeight(int bar) const {
    return isLit(bar) ? 2 * bar + 8 : unlitHeight;
}

QVector<AudioLevelIndicator::Bar> AudioLevelIndicator::targetBars() const {
    QVector<Bar> bars;
    for (int i = 0; i < m_barCount; ++i)
        bars.push_back({static_cast<qreal>(barHeight(i)), isLit(i) ? 1.0 : 0.0});
    return bars;
}

void AudioLevelIndicator::setLevel(float level) {
    const QVector<Bar> before = targetBars();
    m_level = level;
    const QVector<Bar> target = targetBars();
    // Most new levels light the same bars: nothing to draw, and a running animation keeps going.
    if (target == before && (m_frameTimer.isActive() || m_shown == target))
        return;
    m_frameTimer.stop();
    if (m_animationMs <= 0 || !isVisible()) {
        present(target);
        return;
    }
    m_from = m_shown;
    m_animationClock.start();
    m_frameTimer.start();
}

QRect AudioLevelIndicator::barRect(int bar) const {
    const int rowWidth = m_barCount * barWidth + (m_barCount - 1) * barSpacing;
    const int x = (width() - rowWidth) / 2 + bar * (barWidth + barSpacing);
    return {x - 1, 0, barWidth + 2, height()};
}

void AudioLevelIndicator::present(const QVector<Bar>& bars) {
    // Steps below what a pixel shows are not drawn: the end of each eased change moves little.
    const QVector<Bar> target = targetBars();
    QRegion dirty;
    for (int i = 0; i < m_barCount; ++i) {
        const Bar& was = m_drawn[i];
        const Bar& now = bars[i];
        const bool visible =
            std::abs(was.height - now.height) >= 0.25 || std::abs(was.lit - now.lit) >= 1.0 / 64;
        if (visible || (now != was && now == target[i]))
            dirty += barRect(i);
    }
    m_shown = bars;
    if (dirty.isEmpty())
        return;
    for (int i = 0; i < m_barCount; ++i) {
        if (dirty.intersects(barRect(i)))
            m_drawn[i] = bars[i];
    }
    update(dirty);
}

void AudioLevelIndicator::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor lit = OverlayStyle::accent(palette());
    const QColor unlit = OverlayStyle::withOpacity(OverlayStyle::secondary(palette()), 0.3);
    const int rowWidth = m_barCount * barWidth + (m_barCount - 1) * barSpacing;
    qreal x = (width() - rowWidth) / 2.0;
    for (int i = 0; i < m_barCount; ++i, x += barWidth + barSpacing) {
        // Mostly one or two bars changed; the others are clipped away anyway.
        if (!event->region().intersects(barRect(i)))
            continue;
        const Bar& bar = m_drawn[i];
        QColor color;
        color.setRgbF(unlit.redF() + (lit.redF() - unlit.redF()) * bar.lit,
                      unlit.greenF() + (lit.greenF() - unlit.greenF()) * bar.lit,
                      unlit.blueF() + (lit.blueF() - unlit.blueF()) * bar.lit,
                      unlit.alphaF() + (lit.alphaF() - unlit.alphaF()) * bar.lit);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(x, (height() - bar.height) / 2.0, barWidth, bar.height), 1, 1);
    }
}

} // namespace quill
