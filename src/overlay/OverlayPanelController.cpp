#include "OverlayPanelController.h"

#include "ExplanationView.h"
#include "OverlayPanelWindow.h"
#include "platform/Log.h"
#include "platform/PanelWindowHelper.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

namespace quill {

OverlayPanelController::OverlayPanelController(PanelWindowHelper& helper, QObject* parent)
    : OverlayPanelController(
          helper, Timing{}, [&helper] { return currentDisplayLayout(helper); }, parent) {}

OverlayPanelController::OverlayPanelController(PanelWindowHelper& helper, Timing timing,
                                               DisplayLayoutProvider displayLayout, QObject* parent)
    : QObject(parent)
    , m_helper(helper)
    , m_timing(timing)
    , m_displayLayout(std::move(displayLayout)) {
    m_dismissTimer.setSingleShot(true);
    m_dismissTimer.setInterval(m_timing.dismissMs);
    connect(&m_dismissTimer, &QTimer::timeout, this, &OverlayPanelController::hide);

    m_resizeThrottle.setSingleShot(true);
    m_resizeThrottle.setInterval(m_timing.resizeThrottleMs);
    connect(&m_resizeThrottle, &QTimer::timeout, this, [this] { updatePanelSize(false); });

    m_pointerWait.setSingleShot(true);
    m_pointerWait.setInterval(m_timing.pointerWaitMs);
    connect(&m_pointerWait, &QTimer::timeout, this, [this] {
        m_waitingForPointer = false;
        placeAndShow(std::nullopt);
    });

    m_resizeAnimation.setDuration(m_timing.resizeAnimationMs);
    m_resizeAnimation.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&m_resizeAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { m_panel->setCardGeometry(value.toRect()); });
    // Pieces that arrive after the panel went away still belong to the answer.
    connect(&m_viewModel, &ExplanationViewModel::changed, this, &OverlayPanelController::keepAnswer);
    setupPanel();
}

OverlayPanelController::~OverlayPanelController() = default;

DisplayLayout OverlayPanelController::currentDisplayLayout(PanelWindowHelper& helper) {
    DisplayLayout layout;
    layout.pointer = helper.pointerPosition();
    for (const QScreen* screen : QGuiApplication::screens())
        layout.screens.append({screen->geometry(), screen->availableGeometry()});
    if (const QScreen* main = QGuiApplication::primaryScreen())
        layout.mainScreen = ScreenArea{main->geometry(), main->availableGeometry()};
    return layout;
}

void OverlayPanelController::setupPanel() {
    m_panel = std::make_unique<OverlayPanelWindow>(m_helper);
    m_contentView = new ExplanationView(m_viewModel, m_panel.get());
    connect(m_contentView, &ExplanationView::dismissRequested, this, &OverlayPanelController::hide);
    connect(m_contentView, &ExplanationView::detailRequested, this, &OverlayPanelController::detailRequested);
    connect(m_contentView, &ExplanationView::pasteRequested, this, &OverlayPanelController::pasteRequested);
    m_panel->setCard(m_contentView);
    m_panel->setCardGeometry(QRect(QPoint(0, 0), PanelPlacement::minSize));
}

void OverlayPanelController::showPanel() {
    // The dismissal belonged to what was shown before; it must not take the new content away.
    m_dismissTimer.stop();
    if (!m_panel || !m_contentView)
        return;
    const quint64 placement = ++m_placement;
    m_waitingForPointer = true;
    const QPointer<OverlayPanelController> self(this);
    m_helper.refreshPointerPosition([self, placement](std::optional<QPoint> pointer) {
        if (self && self->m_placement == placement)
            self->pointerAnswered(pointer);
    });
    if (m_waitingForPointer)
        m_pointerWait.start();
}

void OverlayPanelController::pointerAnswered(std::optional<QPoint> pointer) {
    if (m_waitingForPointer) {
        m_waitingForPointer = false;
        m_pointerWait.stop();
        placeAndShow(pointer);
    } else if (pointer && m_panel->isVisible()) {
        placeAndShow(pointer);
    }
}

void OverlayPanelController::placeAndShow(std::optional<QPoint> pointer) {
    // Text wraps at the width the panel will have, so that is the width to measure its height at.
    const int width = PanelPlacement::clampedWidth(m_contentView->fittingWidth());
    const QSize fitting(width, m_contentView->fittingHeight(width));
    DisplayLayout layout = m_displayLayout();
    if (pointer)
        layout.pointer = pointer;
    const std::optional<QRect> frame = PanelPlacement::place(fitting, layout);
    if (!frame)
        return;
    m_resizeAnimation.stop();
    m_panel->setComposited(m_helper.compositorActive());
    m_panel->setCardGeometry(*frame);
    m_panel->winId();
    m_helper.showOnAllDesktops(m_panel->windowHandle());
    const bool wasVisible = m_panel->isVisible();
    m_panel->show();
    m_panel->raise();
    if (!wasVisible)
        emit panelVisibilityChanged(true);
}

void OverlayPanelController::hide() {
    m_dismissTimer.stop();
    // A pointer answer still on its way must not bring the panel back.
    ++m_placement;
    m_waitingForPointer = false;
    m_pointerWait.stop();
    const bool wasVisible = isPanelVisible();
    if (m_panel)
        m_panel->hide();
    m_viewModel.reset();
    if (wasVisible)
        emit panelVisibilityChanged(false);
}

bool OverlayPanelController::isPanelVisible() const {
    return m_panel && m_panel->isVisible();
}

void OverlayPanelController::keepAnswer() {
    if (m_viewModel.mode() != ViewMode::explain ||
        m_viewModel.state().kind() != ExplanationState::Kind::content)
        return;
    const bool first = !m_lastAnswer;
    m_lastAnswer = Answer{m_viewModel.state().text(), m_viewModel.detailedText(), m_viewModel.isExpanded()};
    if (first)
        emit lastAnswerAvailable();
}

void OverlayPanelController::showLastAnswer() {
    if (!m_lastAnswer)
        return;
    // Copied: restoring the view model rewrites the kept answer as it goes.
    const Answer answer = *m_lastAnswer;
    m_dismissTimer.stop();
    m_viewModel.reset();
    m_viewModel.setMode(ViewMode::explain);
    m_viewModel.setState(ExplanationState::content(answer.text));
    m_viewModel.setDetailedText(answer.detailedText);
    m_viewModel.setIsExpanded(answer.isExpanded);
    showPanel();
}

void OverlayPanelController::showRecording(const QString& message) {
    m_viewModel.reset();
    m_viewModel.setMode(ViewMode::transcribe);
    m_viewModel.setState(ExplanationState::loading());
    m_viewModel.setLoadingMessage(message);
    showPanel();
}

void OverlayPanelController::showError(const QString& message, bool autoDismiss) {
    // What the person was told stays in the log after the panel is gone, for a report of the fault.
    logLine(lcOverlay(), QStringLiteral("OverlayPanelController"),
            QStringLiteral("showing: ") + QString(message).replace(u'\n', u' '));
    m_viewModel.setState(ExplanationState::error(message));
    showPanel();
    if (autoDismiss)
        m_dismissTimer.start();
}

void OverlayPanelController::updatePanelSize(bool animate) {
    if (!m_panel || !m_contentView)
        return;
    const QRect frame = m_resizeAnimation.state() == QAbstractAnimation::Running
                            ? m_resizeAnimation.endValue().toRect()
                            : m_panel->cardGeometry();
    const int height = PanelPlacement::clampedHeight(m_contentView->fittingHeight(frame.width()));
    if (std::abs(height - frame.height()) <= 1)
        return;
    const QRect target(frame.topLeft(), QSize(frame.width(), height));
    m_resizeAnimation.stop();
    if (!animate || m_timing.resizeAnimationMs <= 0 || !m_panel->isVisible()) {
        m_panel->setCardGeometry(target);
        return;
    }
    m_resizeAnimation.setStartValue(m_panel->cardGeometry());
    m_resizeAnimation.setEndValue(target);
    m_resizeAnimation.start();
}

void OverlayPanelController::scheduleResize() {
    m_resizeThrottle.start();
}

void OverlayPanelController::finishStreaming() {
    m_resizeThrottle.stop();
    updatePanelSize(true);
}

void OverlayPanelController::finishDetailLoading() {
    m_viewModel.setIsLoadingDetail(false);
    finishStreaming();
}

} // namespace quill
