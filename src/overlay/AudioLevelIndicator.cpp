#include "AudioLevelIndicator.h"

#include "OverlayStyle.h"

#include <QPainter>

namespace quill {

namespace {

constexpr int frameWidth = 24;
constexpr int frameHeight = 20;
constexpr int barWidth = 3;
constexpr int barSpacing = 2;
constexpr int unlitHeight = 4;
constexpr int levelAnimationMs = 100;

QEasingCurve easeOut() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

} // namespace

AudioLevelIndicator::AudioLevelIndicator(int barCount, QWidget* parent)
    : QWidget(parent)
    , m_barCount(barCount) {
    setFixedSize(AudioLevelIndicator::sizeHint());
    m_shown = targetBars();
    m_animation.setDuration(levelAnimationMs);
    m_animation.setEasingCurve(easeOut());
    m_animation.setStartValue(0.0);
    m_animation.setEndValue(1.0);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        const qreal t = value.toReal();
        const QVector<Bar> target = targetBars();
        for (int i = 0; i < m_barCount; ++i) {
            m_shown[i].height = m_from[i].height + (target[i].height - m_from[i].height) * t;
            m_shown[i].lit = m_from[i].lit + (target[i].lit - m_from[i].lit) * t;
        }
        update();
    });
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
    m_level = level;
    m_from = m_shown;
    m_animation.stop();
    if (m_animation.duration() <= 0 || !isVisible()) {
        m_shown = targetBars();
        update();
        return;
    }
    m_animation.start();
}

void AudioLevelIndicator::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor lit = OverlayStyle::accent(palette());
    const QColor unlit = OverlayStyle::withOpacity(OverlayStyle::secondary(palette()), 0.3);
    const int rowWidth = m_barCount * barWidth + (m_barCount - 1) * barSpacing;
    qreal x = (width() - rowWidth) / 2.0;
    for (const Bar& bar : m_shown) {
        QColor color;
        color.setRgbF(unlit.redF() + (lit.redF() - unlit.redF()) * bar.lit,
                      unlit.greenF() + (lit.greenF() - unlit.greenF()) * bar.lit,
                      unlit.blueF() + (lit.blueF() - unlit.blueF()) * bar.lit,
                      unlit.alphaF() + (lit.alphaF() - unlit.alphaF()) * bar.lit);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color);
        painter.drawRoundedRect(QRectF(x, (height() - bar.height) / 2.0, barWidth, bar.height), 1, 1);
        x += barWidth + barSpacing;
    }
}

} // namespace quill
