#include "ActionBar.h"

#include "OverlayButtons.h"
#include "SpinnerView.h"

#include <QHBoxLayout>
#include <QTimer>

namespace quill {

namespace {

constexpr int copiedMs = 2000;
constexpr qreal detailSpinnerScale = 0.6;

} // namespace

ActionBar::ActionBar(QWidget* parent)
    : QWidget(parent)
    , m_more(new PlainTextButton(this))
    , m_spinner(new SpinnerView(detailSpinnerScale, this))
    , m_paste(new PillButton(PillButton::Tint::accent, this))
    , m_copy(new PillButton(PillButton::Tint::secondary, this))
    , m_copiedDuration(copiedMs) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 10);
    layout->addWidget(m_more);
    layout->addWidget(m_spinner);
    layout->addStretch();
    layout->addWidget(m_paste);
    layout->addWidget(m_copy);
    m_paste->setText(tr("Paste"));
    m_paste->setIconName(QStringLiteral("paste"));
    connect(m_more, &QAbstractButton::clicked, this, &ActionBar::toggleExpanded);
    connect(m_paste, &QAbstractButton::clicked, this, &ActionBar::pasteRequested);
    connect(m_copy, &QAbstractButton::clicked, this, &ActionBar::copy);
    setCopied(false);
}

void ActionBar::showState(ViewMode mode, bool isExpanded, bool isLoadingDetail,
                          const std::optional<QString>& detailedText) {
    m_isExpanded = isExpanded;
    m_detailedText = detailedText;
    const bool explain = mode == ViewMode::explain;
    m_more->setVisible(explain && !isLoadingDetail);
    m_spinner->setVisible(explain && isLoadingDetail);
    m_more->setText(isExpanded ? tr("less") : tr("more"));
    m_more->updateGeometry();
    m_paste->setVisible(mode == ViewMode::transcribe);
}

void ActionBar::toggleExpanded() {
    if (m_isExpanded) {
        emit expansionRequested(false);
        return;
    }
    if (!m_detailedText)
        emit detailRequested();
    emit expansionRequested(true);
}

void ActionBar::copy() {
    emit copyRequested();
    setCopied(true);
    QTimer::singleShot(m_copiedDuration, this, [this, generation = m_generation] {
        if (generation == m_generation)
            setCopied(false);
    });
}

void ActionBar::resetCopied() {
    ++m_generation;
    setCopied(false);
}

void ActionBar::setCopied(bool copied) {
    m_copied = copied;
    m_copy->setText(copied ? tr("Copied!") : tr("Copy"));
    m_copy->setIconName(copied ? QStringLiteral("checkmark") : QStringLiteral("copy"));
    m_copy->updateGeometry();
}

} // namespace quill
