#include "CodeBlockView.h"

#include "MarkdownDocumentStyle.h"
#include "OverlayButtons.h"
#include "OverlayStyle.h"
#include "ScrollAreaAccessibility.h"

#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>

namespace quill {

namespace {

constexpr int padding = 10;
constexpr int headerSpacing = 6;
constexpr qreal radius = 6;
constexpr int copiedMs = 2000;
constexpr int tabWidth = 4;

} // namespace

CodeBlockView::CodeBlockView(const QFont& font, QWidget* parent)
    : QWidget(parent)
    , m_font(font)
    , m_language(new QLabel(this))
    , m_copy(new PillButton(PillButton::Tint::secondary, this))
    , m_scroll(new QScrollArea(this))
    , m_text(new QLabel) {
    describeScrollAreasAsPlainWidgets();
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);

    m_language->setTextFormat(Qt::PlainText);
    m_copy->setText(tr("Copy"));
    m_copy->setIconName(QStringLiteral("copy"));
    m_copy->setAccessibleName(tr("Copy code"));
    connect(m_copy, &QAbstractButton::clicked, this, [this] {
        emit copyRequested(m_code);
        setCopied(true);
        m_copiedTimer.start();
    });
    m_copiedTimer.setSingleShot(true);
    m_copiedTimer.setInterval(copiedMs);
    connect(&m_copiedTimer, &QTimer::timeout, this, [this] { setCopied(false); });

    m_text->setTextFormat(Qt::PlainText);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_text->setCursor(Qt::IBeamCursor);
    m_text->setWordWrap(false);
    m_text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_text->setContentsMargins(padding, 0, padding, padding);
    m_scroll->setWidget(m_text);
    // The block paints its one tint behind header and code; QScrollArea::setWidget turned the
    // code's own fill on, which would lay the window colour over that tint.
    m_text->setAutoFillBackground(false);
    m_scroll->setWidgetResizable(false);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);
    applyStyle();
}

void CodeBlockView::setCode(const QString& code, const QString& language) {
    if (code == m_code && language == m_language->text())
        return;
    const bool languageChanged = language != m_language->text();
    m_code = code;
    m_language->setText(language);
    // Tabs are shown as spaces; Copy gives the code as written.
    QString shown = code;
    shown.replace(u'\t', QString(tabWidth, u' '));
    m_text->setText(shown);
    m_text->adjustSize();
    if (languageChanged)
        m_language->adjustSize();
    updateGeometry();
    arrange();
}

int CodeBlockView::headerHeight() const {
    return padding / 2 + std::max(m_copy->sizeHint().height(), m_language->sizeHint().height()) +
           headerSpacing;
}

int CodeBlockView::codeHeight(int width) const {
    const QSize text = m_text->sizeHint();
    // A line wider than the block scrolls, and the scroll bar takes room below the code.
    const int bar = text.width() > width ? m_scroll->horizontalScrollBar()->sizeHint().height() : 0;
    return text.height() + bar;
}

int CodeBlockView::idealWidth() const {
    return std::max(m_text->sizeHint().width(),
                    m_language->sizeHint().width() + m_copy->sizeHint().width() + 3 * padding);
}

int CodeBlockView::heightForWidth(int width) const {
    return headerHeight() + codeHeight(width);
}

QSize CodeBlockView::sizeHint() const {
    const int w = std::max(1, width());
    return {w, heightForWidth(w)};
}

void CodeBlockView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

void CodeBlockView::arrange() {
    const int header = headerHeight() - headerSpacing - padding / 2;
    const QSize copy = m_copy->sizeHint();
    m_copy->setGeometry(width() - padding / 2 - copy.width(), padding / 2 + (header - copy.height()) / 2,
                        copy.width(), copy.height());
    const QSize language = m_language->sizeHint();
    m_language->setGeometry(padding, padding / 2 + (header - language.height()) / 2,
                            std::min(language.width(), std::max(0, m_copy->x() - 2 * padding)),
                            language.height());
    m_text->resize(m_text->sizeHint());
    m_scroll->setGeometry(0, headerHeight(), width(), codeHeight(width()));
}

void CodeBlockView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(shape, codeBackground(palette()));
    painter.setPen(QPen(OverlayStyle::withOpacity(OverlayStyle::primary(palette()), 0.08), 1));
    painter.drawPath(shape);
}

void CodeBlockView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
    QWidget::changeEvent(event);
}

void CodeBlockView::applyStyle() {
    const QPalette& pal = palette();
    QPalette text = m_text->palette();
    text.setColor(QPalette::WindowText, OverlayStyle::primary(pal));
    text.setColor(QPalette::Text, OverlayStyle::primary(pal));
    m_text->setPalette(text);
    m_text->setFont(codeFont(m_font));
    QPalette language = m_language->palette();
    language.setColor(QPalette::WindowText, OverlayStyle::secondary(pal));
    m_language->setPalette(language);
    m_language->setFont(OverlayStyle::caption());

    const QColor handle = OverlayStyle::withOpacity(OverlayStyle::primary(pal), 0.25);
    m_scroll->horizontalScrollBar()->setStyleSheet(
        QStringLiteral(
            "QScrollBar:horizontal { background: transparent; height: 8px; margin: 0 6px 2px 6px; }"
            "QScrollBar::handle:horizontal { background: rgba(%1, %2, %3, %4); border-radius: 3px;"
            " min-width: 24px; }"
            "QScrollBar::add-line, QScrollBar::sub-line { width: 0; }"
            "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }")
            .arg(handle.red())
            .arg(handle.green())
            .arg(handle.blue())
            .arg(handle.alpha()));
    updateGeometry();
}

void CodeBlockView::setCopied(bool copied) {
    m_copy->setText(copied ? tr("Copied!") : tr("Copy"));
    m_copy->setIconName(copied ? QStringLiteral("checkmark") : QStringLiteral("copy"));
    m_copy->updateGeometry();
    arrange();
}

} // namespace quill
