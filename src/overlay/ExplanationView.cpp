#include "ExplanationView.h"

#include "ActionBar.h"
#include "Divider.h"
#include "ErrorView.h"
#include "LoadingView.h"
#include "OverlayButtons.h"
#include "OverlayStyle.h"
#include "ScrollAreaAccessibility.h"
#include "TextContent.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace quill {

namespace {

constexpr int contentPadding = 16;
constexpr int headerIconSize = 16;
constexpr int dismissIconSize = 16;

void putOnClipboard(const QString& text) {
    QGuiApplication::clipboard()->clear();
    QGuiApplication::clipboard()->setText(text);
}

} // namespace

QString copyText(const ExplanationViewModel& viewModel) {
    QString text = viewModel.state().text();
    if (viewModel.isExpanded())
        text += QStringLiteral("\n\n") + viewModel.detailedText().value_or(QString());
    return text;
}

ExplanationView::ExplanationView(ExplanationViewModel& viewModel, QWidget* parent)
    : QWidget(parent)
    , m_viewModel(viewModel)
    , m_icon(new QLabel(this))
    , m_title(new QLabel(tr("Quillpoint"), this))
    , m_dismiss(new IconButton(QStringLiteral("dismiss"), dismissIconSize, this))
    , m_header(new QWidget(this))
    , m_scroll(new QScrollArea(this))
    , m_content(new QWidget)
    , m_loading(new LoadingView(m_content))
    , m_text(new TextContent(m_content))
    , m_error(new ErrorView(m_content))
    , m_actionDivider(new Divider(this)) {
    describeScrollAreasAsPlainWidgets();
    setMinimumWidth(minimumWidth);

    auto* header = new QHBoxLayout(m_header);
    header->setContentsMargins(16, 12, 16, 8);
    header->addWidget(m_icon);
    header->addWidget(m_title);
    header->addStretch();
    header->addWidget(m_dismiss);
    m_icon->setFixedSize(headerIconSize, headerIconSize);
    m_dismiss->setToolTip(tr("Dismiss (Esc)"));
    m_dismiss->setAccessibleName(tr("Dismiss"));
    connect(m_dismiss, &QAbstractButton::clicked, this, &ExplanationView::dismissRequested);

    auto* content = new QVBoxLayout(m_content);
    content->setContentsMargins(contentPadding, contentPadding, contentPadding, contentPadding);
    content->setSpacing(0);
    content->addWidget(m_loading);
    content->addWidget(m_error);
    content->addWidget(m_text);
    content->addStretch();
    connect(m_text, &TextContent::codeCopyRequested, this, &putOnClipboard);
    m_scroll->setWidget(m_content);
    m_content->setAutoFillBackground(false);
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_scroll->setAutoFillBackground(false);
    m_scroll->viewport()->setAutoFillBackground(false);

    m_actionBar = new ActionBar(this);
    connect(m_actionBar, &ActionBar::detailRequested, this, &ExplanationView::detailRequested);
    connect(m_actionBar, &ActionBar::expansionRequested, this,
            [this](bool expanded) { m_viewModel.setIsExpanded(expanded); });
    connect(m_actionBar, &ActionBar::copyRequested, this, [this] { putOnClipboard(copyText(m_viewModel)); });
    connect(m_actionBar, &ActionBar::pasteRequested, this,
            [this] { emit pasteRequested(m_viewModel.state().text()); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_header);
    layout->addWidget(new Divider(this));
    layout->addWidget(m_scroll, 1);
    layout->addWidget(m_actionDivider);
    layout->addWidget(m_actionBar);

    applyStyle();
    connect(&m_viewModel, &ExplanationViewModel::changed, this, &ExplanationView::refresh);
    refresh();
}

void ExplanationView::refresh() {
    const ExplanationState& state = m_viewModel.state();
    const auto kind = state.kind();
    const bool transcribe = m_viewModel.mode() == ViewMode::transcribe;

    if (kind == ExplanationState::Kind::loading) {
        m_loading->showProgress(m_viewModel.loadingMessage(),
                                transcribe ? std::optional<float>(m_viewModel.audioLevel()) : std::nullopt);
    }
    if (kind == ExplanationState::Kind::content) {
        m_text->showText(state.text(), m_viewModel.isExpanded() ? m_viewModel.detailedText() : std::nullopt);
        if (!m_showedContent)
            m_actionBar->resetCopied();
        m_actionBar->showState(m_viewModel.mode(), m_viewModel.isExpanded(), m_viewModel.isLoadingDetail(),
                               m_viewModel.detailedText());
    }
    const bool notice = kind == ExplanationState::Kind::content && m_viewModel.notice();
    if (kind == ExplanationState::Kind::error)
        m_error->setMessage(state.text());
    else if (notice)
        m_error->setMessage(*m_viewModel.notice());

    m_loading->setVisible(kind == ExplanationState::Kind::loading);
    m_text->setVisible(kind == ExplanationState::Kind::content);
    m_error->setVisible(kind == ExplanationState::Kind::error || notice);
    m_actionDivider->setVisible(kind == ExplanationState::Kind::content);
    m_actionBar->setVisible(kind == ExplanationState::Kind::content);
    m_showedContent = kind == ExplanationState::Kind::content;
}

int ExplanationView::fittingWidth() const {
    int contentWidth = 0;
    switch (m_viewModel.state().kind()) {
    case ExplanationState::Kind::idle:
        break;
    case ExplanationState::Kind::loading:
        contentWidth = m_loading->sizeHint().width();
        break;
    case ExplanationState::Kind::content:
        contentWidth = m_text->idealWidth();
        break;
    case ExplanationState::Kind::error:
        contentWidth = m_error->idealWidth();
        break;
    }
    int width = std::max(contentWidth + 2 * contentPadding, m_header->sizeHint().width());
    if (!m_actionBar->isHidden())
        width = std::max(width, m_actionBar->sizeHint().width());
    return std::max(width, minimumWidth);
}

int ExplanationView::fittingHeight(int width) const {
    for (QWidget* widget : {static_cast<QWidget*>(m_text), m_content}) {
        if (widget->layout())
            widget->layout()->invalidate();
    }
    const int contentHeight =
        m_content->hasHeightForWidth() ? m_content->heightForWidth(width) : m_content->sizeHint().height();
    int height = m_header->sizeHint().height() + 1 + contentHeight;
    if (!m_actionBar->isHidden())
        height += 1 + m_actionBar->sizeHint().height();
    return height;
}

void ExplanationView::setTranslucent(bool translucent) {
    m_translucent = translucent;
    update();
}

void ExplanationView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    // The level meter repaints a few pixels many times a second; away from the rounded corners
    // and the border that is plain background, without rasterising the card's outline again.
    const QRect inside = rect().adjusted(cornerRadius, cornerRadius, -cornerRadius, -cornerRadius);
    if (inside.contains(event->rect())) {
        painter.fillRect(event->rect(), OverlayStyle::cardBackground(palette(), m_translucent));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath card;
    card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.fillPath(card, OverlayStyle::cardBackground(palette(), m_translucent));
    painter.setPen(QPen(OverlayStyle::withOpacity(OverlayStyle::primary(palette()), 0.1), 1));
    painter.drawPath(card);
}

void ExplanationView::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange)
        applyStyle();
    QWidget::changeEvent(event);
}

void ExplanationView::applyStyle() {
    const QPalette& pal = palette();
    m_icon->setPixmap(
        OverlayStyle::icon(QStringLiteral("sparkles"), OverlayStyle::accent(pal), headerIconSize, this));
    m_title->setFont(OverlayStyle::headline());
    QPalette titlePalette = m_title->palette();
    titlePalette.setColor(QPalette::WindowText, OverlayStyle::primary(pal));
    m_title->setPalette(titlePalette);

    const QColor handle = OverlayStyle::withOpacity(OverlayStyle::primary(pal), 0.25);
    m_scroll->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: 2px 2px 2px 0; }"
                       "QScrollBar::handle:vertical { background: rgba(%1, %2, %3, %4); border-radius: 3px;"
                       " min-height: 24px; }"
                       "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                       "QScrollBar::add-page, QScrollBar::sub-page { background: transparent; }")
            .arg(handle.red())
            .arg(handle.green())
            .arg(handle.blue())
            .arg(handle.alpha()));
}

} // namespace quill
