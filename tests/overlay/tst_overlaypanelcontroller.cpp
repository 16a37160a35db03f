#include "overlay/ActionBar.h"
#include "overlay/ExplanationView.h"
#include "overlay/OverlayButtons.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/PlatformNull.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <memory>

using namespace quill;

namespace {

constexpr int dismissMs = 120;
constexpr int throttleMs = 60;

QString paragraphs(int count) {
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("Paragraph %1 explains one more thing about the selected words.").arg(i);
    return list.join(QStringLiteral("\n\n"));
}

// Presses the left button in the middle of `widget`, moves by `by` and releases.
void drag(QWidget* widget, QPoint by) {
    const QPoint local = widget->rect().center();
    const QPoint global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent move(QEvent::MouseMove, local + by, global + by, Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
    QMouseEvent release(QEvent::MouseButtonRelease, local + by, global + by, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

// A session that learns the pointer's position only after asking, as a Wayland compositor does.
class AskingPanelWindowHelper final : public PanelWindowHelper {
public:
    bool compositorActive() const override { return true; }
    void showOnAllDesktops(QWindow*) override {}
    void setInputRegion(QWindow*, const QRegion&) override {}
    void refreshPointerPosition(const std::function<void(std::optional<QPoint>)>& done) override {
        pending.push_back(done);
    }
    std::vector<std::function<void(std::optional<QPoint>)>> pending;
};

} // namespace

class TestOverlayPanelController : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void showsBesidePointerWithoutFocus();
    void showRecordingStartsTranscribeLoading();
    void resizeKeepsTopEdgeAndIgnoresOnePixel();
    void scheduleResizeWaitsForAPause();
    void finishStreamingCancelsPendingResizeAndRefitsAtOnce();
    void finishDetailLoadingEndsTheDetailRequest();
    void errorDismissesItselfUnlessHiddenOrReplaced();
    void newContentOutlivesAnEarlierErrorsDismissal();
    void errorWithoutAutoDismissCancelsPendingTimer();
    void showErrorKeepsOtherFields();
    void viewActionsReachTheApplication();
    void firstPlacementMeasuresTheHeightAtTheClampedWidth();
    void userResizesWithinTheSizeLimits();
    void shadowFollowsTheCardsSize();
    void pointerAnsweredLaterPlacesThePanelWithinABound();
    void lastAnswerIsTheLastExplanationAsItEnded();
    void visibilityIsReportedOncePerChange();

private:
    QRect card() const { return controller->panel()->cardGeometry(); }
    void showLoading();

    NullPanelWindowHelper helper;
    std::unique_ptr<OverlayPanelController> controller;
};

void TestOverlayPanelController::init() {
    const DisplayLayout layout{QPoint(100, 100), {{QRect(0, 0, 1280, 1024), QRect(0, 0, 1280, 1024)}}, {}};
    controller = std::make_unique<OverlayPanelController>(
        helper, OverlayPanelController::Timing{dismissMs, throttleMs, 0},
        [layout]() -> const DisplayLayout& { return layout; });
}

void TestOverlayPanelController::cleanup() {
    controller.reset();
}

void TestOverlayPanelController::showLoading() {
    controller->viewModel().reset();
    controller->viewModel().setState(ExplanationState::loading());
    controller->showPanel();
}

void TestOverlayPanelController::showsBesidePointerWithoutFocus() {
    OverlayPanelWindow* panel = controller->panel();
    QVERIFY(!panel->isVisible());
    showLoading();
    QVERIFY(panel->isVisible());
    QCOMPARE(card().topLeft(), QPoint(120, 120));
    QCOMPARE(card().width(), 380);
    QVERIFY(card().height() >= 120);
    const Qt::WindowFlags flags = panel->windowFlags();
    QVERIFY(flags.testFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowDoesNotAcceptFocus));
    QVERIFY(panel->testAttribute(Qt::WA_ShowWithoutActivating));
    controller->hide();
    QVERIFY(!panel->isVisible());
}

void TestOverlayPanelController::showRecordingStartsTranscribeLoading() {
    controller->viewModel().setState(ExplanationState::content(QStringLiteral("old")));
    controller->viewModel().setDetailedText(QStringLiteral("old detail"));
    controller->showRecording(QStringLiteral("Listening... (Esc to cancel)"));
    const ExplanationViewModel& model = controller->viewModel();
    QCOMPARE(model.mode(), ViewMode::transcribe);
    QCOMPARE(model.state().kind(), ExplanationState::Kind::loading);
    QCOMPARE(model.loadingMessage(), std::optional<QString>("Listening... (Esc to cancel)"));
    QCOMPARE(model.detailedText(), std::optional<QString>());
    QVERIFY(controller->panel()->isVisible());
}

void TestOverlayPanelController::resizeKeepsTopEdgeAndIgnoresOnePixel() {
    showLoading();
    const QRect shown = card();
    controller->viewModel().setState(ExplanationState::content(paragraphs(4)));
    controller->updatePanelSize(false);
    const QRect grown = card();
    QCOMPARE(grown.topLeft(), shown.topLeft());
    QCOMPARE(grown.width(), shown.width());
    QVERIFY(grown.height() > shown.height());

    controller->panel()->setCardGeometry(grown.adjusted(0, 0, 0, 1));
    controller->updatePanelSize(false);
    QCOMPARE(card().height(), grown.height() + 1);
    controller->panel()->setCardGeometry(grown.adjusted(0, 0, 0, -2));
    controller->updatePanelSize(false);
    QCOMPARE(card(), grown);

    controller->viewModel().setState(ExplanationState::content(paragraphs(60)));
    controller->updatePanelSize(false);
    QCOMPARE(card(), QRect(grown.topLeft(), QSize(380, 600)));
}

void TestOverlayPanelController::scheduleResizeWaitsForAPause() {
    showLoading();
    const QRect shown = card();
    for (int piece = 1; piece <= 5; ++piece) {
        controller->viewModel().setState(ExplanationState::content(paragraphs(piece)));
        controller->scheduleResize();
        QTest::qWait(throttleMs / 3);
        QCOMPARE(card(), shown);
    }
    QVERIFY(controller->isResizePending());
    QTRY_VERIFY_WITH_TIMEOUT(card().height() > shown.height(), throttleMs * 4);
    QCOMPARE(card().topLeft(), shown.topLeft());

    // A pending resize outlives hide and refits the hidden panel harmlessly.
    controller->scheduleResize();
    controller->hide();
    QVERIFY(controller->isResizePending());
    QTRY_VERIFY_WITH_TIMEOUT(!controller->isResizePending(), throttleMs * 4);
}

void TestOverlayPanelController::finishStreamingCancelsPendingResizeAndRefitsAtOnce() {
    showLoading();
    const QRect shown = card();
    controller->viewModel().setState(ExplanationState::content(paragraphs(5)));
    controller->scheduleResize();
    controller->finishStreaming();
    QVERIFY(!controller->isResizePending());
    QVERIFY(card().height() > shown.height());
    QCOMPARE(card().topLeft(), shown.topLeft());
}

void TestOverlayPanelController::finishDetailLoadingEndsTheDetailRequest() {
    showLoading();
    ExplanationViewModel& model = controller->viewModel();
    model.setState(ExplanationState::content(QStringLiteral("A")));
    controller->finishStreaming();
    const QRect before = card();
    model.setIsLoadingDetail(true);
    model.setIsExpanded(true);
    model.setDetailedText(paragraphs(4));
    controller->scheduleResize();
    controller->finishDetailLoading();
    QVERIFY(!model.isLoadingDetail());
    QVERIFY(!controller->isResizePending());
    QVERIFY(card().height() > before.height());
}

void TestOverlayPanelController::errorDismissesItselfUnlessHiddenOrReplaced() {
    controller->showError(QStringLiteral("No response received"), true);
    QVERIFY(controller->panel()->isVisible());
    QVERIFY(controller->isDismissPending());
    QTRY_VERIFY_WITH_TIMEOUT(!controller->panel()->isVisible(), dismissMs * 4);
    QCOMPARE(controller->viewModel().state().kind(), ExplanationState::Kind::idle);

    controller->showError(QStringLiteral("first"), true);
    controller->hide();
    QVERIFY(!controller->isDismissPending());

    // A second error restarts the wait.
    controller->showError(QStringLiteral("first"), true);
    QTest::qWait(dismissMs * 2 / 3);
    controller->showError(QStringLiteral("second"), true);
    QTest::qWait(dismissMs * 2 / 3);
    QVERIFY(controller->panel()->isVisible());
    QCOMPARE(controller->viewModel().state().text(), QStringLiteral("second"));
    QTRY_VERIFY_WITH_TIMEOUT(!controller->panel()->isVisible(), dismissMs * 4);
}

void TestOverlayPanelController::newContentOutlivesAnEarlierErrorsDismissal() {
    // "No text selected", then an answer streams in before the error's time is up.
    controller->showError(QStringLiteral("No text selected"), true);
    showLoading();
    QVERIFY(!controller->isDismissPending());
    controller->viewModel().setState(ExplanationState::content(QStringLiteral("The answer")));
    QTest::qWait(dismissMs * 2);
    QVERIFY(controller->panel()->isVisible());
    QCOMPARE(controller->viewModel().state().text(), QStringLiteral("The answer"));

    // "Failed to start recording", then a retry that records.
    controller->showError(QStringLiteral("Failed to start recording"), true);
    controller->showRecording(QStringLiteral("Listening..."));
    QVERIFY(!controller->isDismissPending());
    QTest::qWait(dismissMs * 2);
    QVERIFY(controller->panel()->isVisible());
    QCOMPARE(controller->viewModel().mode(), ViewMode::transcribe);
}

void TestOverlayPanelController::errorWithoutAutoDismissCancelsPendingTimer() {
    controller->showError(QStringLiteral("first"), true);
    controller->showError(QStringLiteral("Accessibility permission required"), false);
    QVERIFY(!controller->isDismissPending());
    QTest::qWait(dismissMs * 2);
    QVERIFY(controller->panel()->isVisible());
}

void TestOverlayPanelController::showErrorKeepsOtherFields() {
    ExplanationViewModel& model = controller->viewModel();
    model.setMode(ViewMode::transcribe);
    model.setDetailedText(QStringLiteral("B"));
    model.setIsExpanded(true);
    model.setAudioLevel(0.4f);
    controller->showError(QStringLiteral("oops"), false);
    QVERIFY(model.state() == ExplanationState::error(QStringLiteral("oops")));
    QCOMPARE(model.mode(), ViewMode::transcribe);
    QCOMPARE(model.detailedText(), std::optional<QString>("B"));
    QVERIFY(model.isExpanded());
    QCOMPARE(model.audioLevel(), 0.4f);
}

void TestOverlayPanelController::viewActionsReachTheApplication() {
    ExplanationView* view = controller->contentView();
    ExplanationViewModel& model = controller->viewModel();
    showLoading();
    model.setState(ExplanationState::content(QStringLiteral("A")));
    // Nothing connected yet: the actions do nothing.
    QTest::mouseClick(view->actionBar()->moreButton(), Qt::LeftButton);
    model.setIsExpanded(false);

    int fetches = 0;
    QStringList pasted;
    connect(controller.get(), &OverlayPanelController::detailRequested, this, [&] { ++fetches; });
    connect(controller.get(), &OverlayPanelController::pasteRequested, this,
            [&](const QString& text) { pasted << text; });
    QTest::mouseClick(view->actionBar()->moreButton(), Qt::LeftButton);
    QCOMPARE(fetches, 1);
    model.setMode(ViewMode::transcribe);
    QTest::mouseClick(view->actionBar()->pasteButton(), Qt::LeftButton);
    QCOMPARE(pasted, QStringList{QStringLiteral("A")});

    controller->showError(QStringLiteral("x"), true);
    QTest::mouseClick(view->dismissButton(), Qt::LeftButton);
    QVERIFY(!controller->panel()->isVisible());
    QVERIFY(!controller->isDismissPending());
    QCOMPARE(model.state().kind(), ExplanationState::Kind::idle);
}

void TestOverlayPanelController::firstPlacementMeasuresTheHeightAtTheClampedWidth() {
    QStringList sentences;
    for (int i = 0; i < 40; ++i)
        sentences << QStringLiteral("Sentence %1 of one long paragraph that never breaks its line.").arg(i);
    controller->viewModel().setState(ExplanationState::content(sentences.join(' ')));
    controller->showPanel();
    QCOMPARE(card().width(), 700);
    const int wrapped = controller->contentView()->fittingHeight(700);
    QVERIFY(wrapped > 300);
    QCOMPARE(card().height(), PanelPlacement::clampedHeight(wrapped));
}

void TestOverlayPanelController::userResizesWithinTheSizeLimits() {
    showLoading();
    OverlayPanelWindow* panel = controller->panel();
    const QRect shown = card();

    // Outward past the largest size from the lower right corner: the top left stays.
    drag(panel->resizeHandle(Qt::BottomEdge | Qt::RightEdge), QPoint(900, 900));
    QCOMPARE(card(), QRect(shown.topLeft(), PanelPlacement::maxSize));
    drag(panel->resizeHandle(Qt::BottomEdge | Qt::RightEdge), QPoint(-900, -900));
    QCOMPARE(card(), QRect(shown.topLeft(), PanelPlacement::minSize));

    // From the left and top edges the opposite edges stay.
    drag(panel->resizeHandle(Qt::LeftEdge), QPoint(-100, 0));
    QCOMPARE(card(), QRect(shown.x() - 100, shown.y(), 480, 120));
    drag(panel->resizeHandle(Qt::TopEdge), QPoint(0, -150));
    QCOMPARE(card(), QRect(shown.x() - 100, shown.y() - 150, 480, 270));
    drag(panel->resizeHandle(Qt::TopEdge | Qt::LeftEdge), QPoint(300, 300));
    QCOMPARE(card(), QRect(shown.topLeft(), PanelPlacement::minSize));

    // The window manager gets the same limits for the resizes it does itself.
    QCOMPARE(panel->minimumSize(), PanelPlacement::minSize.grownBy(panel->shadowMargins()));
    QCOMPARE(panel->maximumSize(), PanelPlacement::maxSize.grownBy(panel->shadowMargins()));
    panel->setComposited(false);
    QCOMPARE(panel->maximumSize(), PanelPlacement::maxSize);

    // A refit afterwards keeps the width the user chose.
    drag(panel->resizeHandle(Qt::RightEdge), QPoint(120, 0));
    QCOMPARE(card().width(), 500);
    controller->viewModel().setState(ExplanationState::content(paragraphs(3)));
    controller->updatePanelSize(false);
    QCOMPARE(card().width(), 500);
    QCOMPARE(card().height(), PanelPlacement::clampedHeight(controller->contentView()->fittingHeight(500)));
}

void TestOverlayPanelController::shadowFollowsTheCardsSize() {
    showLoading();
    OverlayPanelWindow* panel = controller->panel();
    QVERIFY(panel->isComposited());
    // Just below the card's bottom edge, in the middle, where the shadow is darkest.
    auto shadowBelowCard = [panel] {
        QImage image(panel->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        panel->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
        const QRect card = panel->rect().marginsRemoved(panel->shadowMargins());
        return image.pixelColor(card.center().x(), card.bottom() + 4).alpha();
    };
    QVERIFY(shadowBelowCard() > 0);
    for (const QSize size : {QSize(520, 300), QSize(450, 200), PanelPlacement::minSize}) {
        panel->setCardGeometry(QRect(card().topLeft(), size));
        QCOMPARE(card().size(), size);
        QVERIFY2(shadowBelowCard() > 0,
                 qPrintable(QStringLiteral("%1x%2").arg(size.width()).arg(size.height())));
    }
}

void TestOverlayPanelController::pointerAnsweredLaterPlacesThePanelWithinABound() {
    AskingPanelWindowHelper asking;
    const DisplayLayout layout{QPoint(100, 100), {{QRect(0, 0, 1280, 1024), QRect(0, 0, 1280, 1024)}}, {}};
    OverlayPanelController::Timing timing{dismissMs, throttleMs, 0};
    timing.pointerWaitMs = 40;
    OverlayPanelController late(asking, timing, [layout]() -> const DisplayLayout& { return layout; });
    late.viewModel().setState(ExplanationState::loading());

    // An answer within the bound: the panel shows once, where the answer says.
    late.showPanel();
    QVERIFY(!late.panel()->isVisible());
    QCOMPARE(asking.pending.size(), size_t(1));
    asking.pending.back()(QPoint(600, 500));
    QVERIFY(late.panel()->isVisible());
    const QRect answered = late.panel()->cardGeometry();
    QVERIFY(answered.left() >= 600 && answered.top() >= 500);

    // No answer: the panel shows where the layout says once the bound has passed, and the
    // answer moves it when it comes.
    late.hide();
    late.showPanel();
    QVERIFY(!late.panel()->isVisible());
    QTRY_VERIFY(late.panel()->isVisible());
    QVERIFY(late.panel()->cardGeometry().left() < 600);
    asking.pending.back()(QPoint(600, 500));
    QCOMPARE(late.panel()->cardGeometry().topLeft(), answered.topLeft());

    // An answer to a panel already hidden does not bring it back.
    late.showPanel();
    late.hide();
    asking.pending.back()(QPoint(300, 300));
    QVERIFY(!late.panel()->isVisible());
}

void TestOverlayPanelController::lastAnswerIsTheLastExplanationAsItEnded() {
    ExplanationViewModel& model = controller->viewModel();
    int announced = 0;
    connect(controller.get(), &OverlayPanelController::lastAnswerAvailable, this, [&] { ++announced; });
    // Nothing to bring back yet: the call shows nothing.
    controller->showLastAnswer();
    QVERIFY(!controller->panel()->isVisible());
    QVERIFY(!controller->hasLastAnswer());

    showLoading();
    model.setState(ExplanationState::content(QStringLiteral("Light")));
    controller->hide();
    // Pieces that arrive after the panel went away, and the detail, belong to the answer.
    model.setState(ExplanationState::content(QStringLiteral("Light into sugar")));
    model.setDetailedText(QStringLiteral("In detail"));
    model.setIsExpanded(true);
    // Neither an error nor a transcript replaces it.
    controller->showError(QStringLiteral("Offline"), false);
    controller->hide();
    model.setMode(ViewMode::transcribe);
    model.setState(ExplanationState::content(QStringLiteral("dictated words")));
    controller->hide();
    QCOMPARE(announced, 1);

    controller->showLastAnswer();
    QVERIFY(controller->panel()->isVisible());
    QCOMPARE(model.mode(), ViewMode::explain);
    QCOMPARE(model.state(), ExplanationState::content(QStringLiteral("Light into sugar")));
    QCOMPARE(model.detailedText(), std::optional<QString>(QStringLiteral("In detail")));
    QVERIFY(model.isExpanded());
    QVERIFY(!controller->isDismissPending());

    // The next explanation is the one that comes back then.
    showLoading();
    model.setState(ExplanationState::content(QStringLiteral("Chlorophyll")));
    controller->hide();
    controller->showLastAnswer();
    QCOMPARE(model.state(), ExplanationState::content(QStringLiteral("Chlorophyll")));
    QCOMPARE(model.detailedText(), std::optional<QString>());
    QVERIFY(!model.isExpanded());
}

void TestOverlayPanelController::visibilityIsReportedOncePerChange() {
    QList<bool> reported;
    connect(controller.get(), &OverlayPanelController::panelVisibilityChanged, this,
            [&](bool visible) { reported << visible; });
    controller->hide();
    showLoading();
    controller->showError(QStringLiteral("Offline"), true);
    QCOMPARE(reported, QList<bool>{true});
    QTRY_COMPARE(reported, (QList<bool>{true, false}));
    controller->hide();
    QCOMPARE(reported, (QList<bool>{true, false}));
}

QTEST_MAIN(TestOverlayPanelController)
#include "tst_overlaypanelcontroller.moc"
