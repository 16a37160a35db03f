#include "TextContent.h"

#include "Divider.h"
#include "MarkdownView.h"
#include "OverlayStyle.h"

namespace quill {

namespace {

constexpr int spacing = 12;
constexpr qreal bodyLineSpacing = 4;
constexpr qreal calloutLineSpacing = 3;
// The unfolding follows a lightly damped spring of 0.25 s; this curve and length match its look.
constexpr int revealMs = 300;

// Laying text out costs time that grows with the square of an unbroken run's length, and with
// the text's length: a text of any size must not stall the interface. So the panel shows a
// bounded beginning, with a break opportunity in every long run; Copy and Paste take it whole.
constexpr qsizetype shownCharacters = 20'000;
constexpr qsizetype longestRun = 400;

QString shownText(const QString& text) {
    qsizetype end = std::min(text.size(), shownCharacters);
    if (end < text.size() && text.at(end - 1).isHighSurrogate())
        --end;
    QString shown;
    shown.reserve(end + end / longestRun + 80);
    qsizetype run = 0;
    for (qsizetype i = 0; i < end; ++i) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            run = 0;
        } else if (++run > longestRun && !c.isLowSurrogate() && c.category() != QChar::Mark_NonSpacing) {
            shown += QChar(0x200B); // zero width space
            run = 1;
        }
        shown += c;
    }
    if (end < text.size())
        shown += QStringLiteral("\n\n") +
                 TextContent::tr("\u2026 %1 more characters not shown").arg(text.size() - end);
    return shown;
}

} // namespace

TextContent::TextContent(QWidget* parent)
    : QWidget(parent)
    , m_text(new MarkdownView(OverlayStyle::body(), bodyLineSpacing, this))
    , m_detailSection(new QWidget(this))
    , m_divider(new Divider(m_detailSection))
    , m_detail(new MarkdownView(OverlayStyle::callout(), calloutLineSpacing, m_detailSection)) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_detailSection->hide();
    connect(m_text, &MarkdownView::codeCopyRequested, this, &TextContent::codeCopyRequested);
    connect(m_detail, &MarkdownView::codeCopyRequested, this, &TextContent::codeCopyRequested);

    m_reveal.setDuration(revealMs);
    m_reveal.setEasingCurve(QEasingCurve::OutCubic);
    m_reveal.setStartValue(0.0);
    m_reveal.setEndValue(1.0);
    connect(&m_reveal, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_revealed = value.toReal();
        arrange();
    });
}

void TextContent::showText(const QString& text, const std::optional<QString>& detailedText) {
    const QString previousText = m_text->markdown();
    const QString previousDetail = m_detail->markdown();
    const QString shown = shownText(text);
    const std::optional<QString> shownDetail =
        detailedText ? std::optional(shownText(*detailedText)) : std::nullopt;
    m_text->setMarkdown(shown);
    if (shownDetail)
        m_detail->setMarkdown(*shownDetail);
    const bool show = detailedText.has_value();
    const bool toggled = show != isDetailShown();
    if (toggled) {
        m_reveal.stop();
        m_revealed = 1.0;
        m_detailSection->setVisible(show);
        if (show && m_reveal.duration() > 0 && isVisible()) {
            m_revealed = 0.0;
            m_reveal.start();
        }
    }
    if (toggled || previousText != shown || (show && previousDetail != *shownDetail)) {
        updateGeometry();
        arrange();
    }
}

bool TextContent::isDetailShown() const {
    return !m_detailSection->isHidden();
}

int TextContent::idealWidth() const {
    return std::max(m_text->idealWidth(), isDetailShown() ? m_detail->idealWidth() : 0);
}

int TextContent::detailHeight(int width) const {
    return spacing + m_divider->height() + spacing + m_detail->heightForWidth(width);
}

int TextContent::heightForWidth(int width) const {
    int height = m_text->heightForWidth(width);
    if (isDetailShown())
        height += detailHeight(width);
    return height;
}

QSize TextContent::sizeHint() const {
    const int w = std::max(1, width());
    return {w, heightForWidth(w)};
}

void TextContent::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    arrange();
}

void TextContent::arrange() {
    const int w = width();
    const int textHeight = m_text->heightForWidth(w);
    m_text->setGeometry(0, 0, w, textHeight);
    if (!isDetailShown())
        return;
    const int full = detailHeight(w);
    m_detailSection->setGeometry(0, textHeight, w, static_cast<int>(full * m_revealed));
    m_divider->setGeometry(0, spacing, w, m_divider->height());
    const int detailTop = spacing + m_divider->height() + spacing;
    m_detail->setGeometry(0, detailTop, w, full - detailTop);
}

} // namespace quill
