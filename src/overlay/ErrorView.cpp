#include "ErrorView.h"

#include "OverlayStyle.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace quill {

namespace {

constexpr int iconSize = 16;
constexpr int spacing = 12;
constexpr int verticalPadding = 8;
constexpr int minimumRowHeight = 44;

} // namespace

ErrorView::ErrorView(QWidget* parent)
    : QWidget(parent)
    , m_icon(new QLabel(this))
    , m_message(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, verticalPadding, 0, verticalPadding);
    layout->setSpacing(spacing);
    layout->addWidget(m_icon);
    layout->addWidget(m_message, 1);
    m_icon->setFixedSize(iconSize, iconSize);
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    setMinimumHeight(minimumRowHeight + 2 * verticalPadding);
    applyStyle();
}

void ErrorView::setMessage(const QString& message) {
    m_message->setText(message);
}

QString ErrorView::message() const {
    return m_message->text();
}

int ErrorView::idealWidth() const {
    return iconSize + spacing + QFontMetrics(m_message->font()).horizontalAdvance(m_message->text());
}

void ErrorView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
    QWidget::changeEvent(event);
}

void ErrorView::applyStyle() {
    m_icon->setPixmap(
        OverlayStyle::icon(QStringLiteral("warning"), OverlayStyle::orange(palette()), iconSize, this));
    QPalette palette = m_message->palette();
    palette.setColor(QPalette::WindowText, OverlayStyle::secondary(this->palette()));
    m_message->setPalette(palette);
    m_message->setFont(OverlayStyle::callout());
}

} // namespace quill
