#include "LoadingView.h"

#include "AudioLevelIndicator.h"
#include "OverlayStyle.h"
#include "SpinnerView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace quill {

namespace {

constexpr qreal spinnerScale = 0.8;
constexpr int minimumRowHeight = 44;
constexpr int verticalPadding = 20;
constexpr int spacing = 12;

} // namespace

LoadingView::LoadingView(QWidget* parent)
    : QWidget(parent)
    , m_spinner(new SpinnerView(spinnerScale, this))
    , m_level(new AudioLevelIndicator(5, this))
    , m_message(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->setSpacing(spacing);
    layout->addStretch();
    layout->addWidget(m_spinner);
    layout->addWidget(m_level);
    layout->addWidget(m_message);
    layout->addStretch();
    setMinimumHeight(minimumRowHeight + 2 * verticalPadding);
    m_message->setTextFormat(Qt::PlainText);
    applyStyle();
    showProgress(std::nullopt, std::nullopt);
}

void LoadingView::showProgress(const std::optional<QString>& message, std::optional<float> audioLevel) {
    m_message->setText(message.value_or(tr("Analyzing...")));
    m_spinner->setVisible(!audioLevel);
    m_level->setVisible(audioLevel.has_value());
    if (audioLevel && *audioLevel != m_level->level())
        m_level->setLevel(*audioLevel);
}

QString LoadingView::messageText() const {
    return m_message->text();
}

void LoadingView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::FontChange)
        applyStyle();
    QWidget::changeEvent(event);
}

void LoadingView::applyStyle() {
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, OverlayStyle::secondary(this->palette()));
    m_message->setPalette(palette);
    m_message->setFont(OverlayStyle::body());
}

} // namespace quill
