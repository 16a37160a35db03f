#include "DelegateHarness.h"
#include "app/AppDelegate.h"
#include "app/StatusBarController.h"
#include "backend/AuthService.h"
#include "platform/SettingsStore.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace quill;
using namespace quill::test;
using namespace std::chrono_literals;

namespace {

constexpr KeyCombination ctrl1{Qt::Key_1, Qt::ControlModifier};
constexpr KeyCombination ctrl2{Qt::Key_2, Qt::ControlModifier};
constexpr KeyCombination escape{Qt::Key_Escape, {}};

qsizetype requestsTo(const TestHttpServer& server, const QByteArray& path) {
    return std::count_if(server.requests.cbegin(), server.requests.cend(),
                         [&](const RecordedRequest& request) { return request.path.startsWith(path); });
}

QAction* menuItem(const AppDelegate& delegate, const QString& title) {
    for (QAction* action : delegate.statusBarController()->menu()->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

} // namespace

// The launch wiring of the shortcuts and of the front application, over fakes.
class TestAppDelegate : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void launchRegistersExplainAndTranscribeAndDispatchesTheirPresses();
    void theFirstRegistrationErrorIsShownAfterTheDelay_data();
    void theFirstRegistrationErrorIsShownAfterTheDelay();
    void observerAppliesEachDeliveredEntryAndSkipsMissingOnes();
    void storeChangesReachServicesMenuAndTooltip();
    void lastActiveApplicationIgnoresThisProcess();
    void quitUnregistersExplainAndTranscribe();
    void escapeIsTakenWhileThePanelShowsAndDismissesIt();
    void duringARecordingEscapeIsTheCancelKey();
    void escapeRefusedByTheDesktopIsNeitherShownNorAskedForAgain();
    void ourWindowsTakeThePanelAwayAndTheLastAnswerComesBack();

private:
    std::unique_ptr<AppDelegate> launch() { return h->launch(); }

    std::unique_ptr<DelegateHarness> h;
    ShortcutConfiguration* store = nullptr;
    FakeKeyGrabber* grabber = nullptr;
    FakeActiveWindowTracker* tracker = nullptr;
};

void TestAppDelegate::init() {
    h = std::make_unique<DelegateHarness>();
    store = &h->store;
    grabber = &h->grabber;
    tracker = &h->tracker;
}

void TestAppDelegate::cleanup() {
    h.reset();
}

void TestAppDelegate::launchRegistersExplainAndTranscribeAndDispatchesTheirPresses() {
    const auto delegate = launch();
    QVERIFY(delegate->explainShortcutService()->isRegistered());
    QVERIFY(delegate->transcribeShortcutService()->isRegistered());
    QVERIFY(!delegate->cancelShortcutService()->isRegistered());
    QCOMPARE(delegate->cancelShortcutService()->currentShortcut(), (Shortcut{53, 0}));
    QCOMPARE(grabber->grabbed, (std::unordered_set<KeyCombination>{ctrl1, ctrl2}));

    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(delegate->transcribeSequence()->isTranscribing());
    h->mic.push(std::vector<float>(160, 0.1f));
    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(!delegate->transcribeSequence()->isTranscribing());

    // The explain press runs the sequence on a later turn: here it finds no selection.
    QVERIFY(grabber->press(ctrl1));
    QVERIFY(delegate->overlayPanelController()->viewModel().state() !=
            ExplanationState::error("No text selected"));
    QTRY_COMPARE(delegate->overlayPanelController()->viewModel().state(),
                 ExplanationState::error("No text selected"));
    // Escape belongs to the applications again once the panel has gone.
    QTRY_VERIFY(!delegate->overlayPanelController()->isPanelVisible());
    QTRY_VERIFY(!grabber->grabbed.contains(escape));
}

void TestAppDelegate::theFirstRegistrationErrorIsShownAfterTheDelay_data() {
    QTest::addColumn<bool>("hookAvailable");
    QTest::addColumn<QList<KeyCombination>>("taken");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no keyboard hook")
        << false << QList<KeyCombination>{}
        << "No global shortcuts in this session: bind `quillpoint --explain` and `quillpoint --transcribe` "
           "to keys in your desktop's keyboard settings.";
    QTest::newRow("both taken: explain's first")
        << true << QList<KeyCombination>{ctrl1, ctrl2} << "Ctrl+1 is already used by another application";
    QTest::newRow("transcribe taken")
        << true << QList<KeyCombination>{ctrl2} << "Ctrl+2 is already used by another application";
}

void TestAppDelegate::theFirstRegistrationErrorIsShownAfterTheDelay() {
    QFETCH(bool, hookAvailable);
    QFETCH(QList<KeyCombination>, taken);
    QFETCH(QString, shown);
    grabber->available = hookAvailable;
    grabber->takenByOthers.insert(taken.cbegin(), taken.cend());
    const auto delegate = launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QCOMPARE(overlay.viewModel().state(), ExplanationState::idle());
    QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::error(shown));
    QVERIFY(overlay.isDismissPending());
}

void TestAppDelegate::observerAppliesEachDeliveredEntryAndSkipsMissingOnes() {
    const auto delegate = launch();
    StatusBarController* statusBar = delegate->statusBarController();
    const Shortcut altK{40, modifier::alt};
    const Shortcut ctrl3{20, modifier::ctrl};

    delegate->applyShortcuts({{ShortcutAction::transcribeOnly, altK}});
    QCOMPARE(delegate->explainShortcutService()->currentShortcut(), (Shortcut{18, modifier::ctrl}));
    QCOMPARE(delegate->transcribeShortcutService()->currentShortcut(), altK);
    QCOMPARE(statusBar->transcribeShortcut(), altK);
    QCOMPARE(statusBar->trayIcon()->toolTip(),
             QStringLiteral("Quillpoint - Ctrl+1 Explain | Alt+K Transcribe"));
    QCOMPARE(grabber->grabbed, (std::unordered_set<KeyCombination>{ctrl1, {Qt::Key_K, Qt::AltModifier}}));

    // The cancel service follows its entry without being registered.
    delegate->applyShortcuts({{ShortcutAction::cancelTranscription, ctrl3}});
    QCOMPARE(delegate->cancelShortcutService()->currentShortcut(), ctrl3);
    QVERIFY(!delegate->cancelShortcutService()->isRegistered());
    QCOMPARE(grabber->grabbed.size(), size_t(2));

    const ShortcutMap before = {{ShortcutAction::explainSelection, statusBar->explainShortcut()},
                                {ShortcutAction::transcribeOnly, statusBar->transcribeShortcut()}};
    delegate->applyShortcuts({});
    QCOMPARE(statusBar->explainShortcut(), before.at(ShortcutAction::explainSelection));
    QCOMPARE(statusBar->transcribeShortcut(), before.at(ShortcutAction::transcribeOnly));
}

void TestAppDelegate::storeChangesReachServicesMenuAndTooltip() {
    const auto delegate = launch();
    StatusBarController* statusBar = delegate->statusBarController();
    // The first delivery re-applies the stored shortcuts and changes nothing visible.
    QTest::qWait(20);
    const int revision = statusBar->menuRevision();
    QCOMPARE(grabber->grabbed, (std::unordered_set<KeyCombination>{ctrl1, ctrl2}));

    const Shortcut ctrlShiftE{14, modifier::ctrl | modifier::shift};
    store->setShortcut(ShortcutAction::explainSelection, ctrlShiftE);
    QTRY_COMPARE(delegate->explainShortcutService()->currentShortcut(), ctrlShiftE);
    QVERIFY(delegate->explainShortcutService()->isRegistered());
    QCOMPARE(statusBar->explainShortcut(), ctrlShiftE);
    QVERIFY(statusBar->menuRevision() > revision);
    QCOMPARE(statusBar->trayIcon()->toolTip(),
             QStringLiteral("Quillpoint - Ctrl+Shift+E Explain | Ctrl+2 Transcribe"));
    QVERIFY(grabber->grabbed.contains({Qt::Key_E, Qt::ControlModifier | Qt::ShiftModifier}));
    QVERIFY(!grabber->grabbed.contains(ctrl1));
}

void TestAppDelegate::lastActiveApplicationIgnoresThisProcess() {
    tracker->front = ownProcess;
    auto delegate = launch();
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), std::nullopt);
    tracker->activate(ownProcess);
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), std::nullopt);
    tracker->activate(501);
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), 501);
    tracker->activate(ownProcess);
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), 501);

    // Another program in front at launch is remembered at once.
    delegate.reset();
    tracker->front = 777;
    delegate = launch();
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), 777);
}

void TestAppDelegate::quitUnregistersExplainAndTranscribe() {
    const auto delegate = launch();
    delegate->applicationWillTerminate();
    QVERIFY(!delegate->explainShortcutService()->isRegistered());
    QVERIFY(!delegate->transcribeShortcutService()->isRegistered());
    QVERIFY(grabber->grabbed.empty());
}

void TestAppDelegate::escapeIsTakenWhileThePanelShowsAndDismissesIt() {
    const auto delegate = launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QVERIFY(!grabber->grabbed.contains(escape));

    overlay.showError(QStringLiteral("Stays"), false);
    QTRY_VERIFY(grabber->grabbed.contains(escape));
    QVERIFY(grabber->press(escape));
    QTRY_VERIFY(!overlay.isPanelVisible());
    QTRY_VERIFY(!grabber->grabbed.contains(escape));

    // Every other way the panel goes lets go of the key too: its own close button, Copy and
    // close and the others end in hide(); an error goes by itself.
    overlay.showError(QStringLiteral("Stays"), false);
    QTRY_VERIFY(grabber->grabbed.contains(escape));
    overlay.hide();
    QTRY_VERIFY(!grabber->grabbed.contains(escape));
    overlay.showError(QStringLiteral("Goes by itself"), true);
    QTRY_VERIFY(grabber->grabbed.contains(escape));
    QTRY_VERIFY(!grabber->grabbed.contains(escape));
    QVERIFY(!overlay.isPanelVisible());
}

void TestAppDelegate::duringARecordingEscapeIsTheCancelKey() {
    const auto delegate = launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    TranscribeSequence& transcribe = *delegate->transcribeSequence();
    GlobalShortcutService& dismiss = *delegate->dismissShortcutService();
    GlobalShortcutService& cancel = *delegate->cancelShortcutService();

    // A panel on screen when the recording starts: the cancel key takes Escape over.
    overlay.showError(QStringLiteral("On screen"), false);
    QTRY_VERIFY(dismiss.isRegistered());
    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(transcribe.isTranscribing());
    QVERIFY(cancel.isRegistered());
    QVERIFY(!dismiss.isRegistered());
    h->mic.push(std::vector<float>(160, 0.1f));
    QVERIFY(grabber->press(escape));
    QTRY_VERIFY(!transcribe.isTranscribing());
    QCOMPARE(requestsTo(h->server, "/api/transcribe"), qsizetype(0));
    QVERIFY(!overlay.isPanelVisible());
    QVERIFY(!cancel.isRegistered());
    QTRY_VERIFY(!grabber->grabbed.contains(escape));
    QVERIFY(!dismiss.isRegistered());

    // Stopped, the recording's panel waits for the transcript, and Escape takes it away.
    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(transcribe.isTranscribing());
    h->mic.push(std::vector<float>(160, 0.1f));
    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(!transcribe.isTranscribing());
    QVERIFY(overlay.isPanelVisible());
    QVERIFY(dismiss.isRegistered());
    QVERIFY(grabber->grabbed.contains(escape));
}

void TestAppDelegate::escapeRefusedByTheDesktopIsNeitherShownNorAskedForAgain() {
    const auto delegate = launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    ExplanationViewModel& model = overlay.viewModel();
    const ExplanationState answer = ExplanationState::content(QStringLiteral("Light into sugar"));
    model.reset();
    model.setState(answer);
    overlay.showPanel();
    QTRY_VERIFY(grabber->grabbed.contains(escape));

    grabber->refuse(escape);
    QTRY_VERIFY(!delegate->dismissShortcutService()->isRegistered());
    QCOMPARE(model.state(), answer);
    overlay.hide();
    overlay.showLastAnswer();
    QVERIFY(overlay.isPanelVisible());
    QCoreApplication::processEvents();
    QVERIFY(!grabber->grabbed.contains(escape));
    QCOMPARE(model.state(), answer);
}

void TestAppDelegate::ourWindowsTakeThePanelAwayAndTheLastAnswerComesBack() {
    const auto delegate = launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    ExplanationViewModel& model = overlay.viewModel();
    QVERIFY(!menuItem(*delegate, QStringLiteral("Show Last Answer"))->isEnabled());

    // An answer as the explain sequence leaves it.
    model.reset();
    model.setState(ExplanationState::loading());
    overlay.showPanel();
    model.setState(ExplanationState::content(QStringLiteral("**Photosynthesis** turns light")));
    model.setDetailedText(QStringLiteral("In detail"));
    QVERIFY(overlay.isPanelVisible());
    QVERIFY(menuItem(*delegate, QStringLiteral("Show Last Answer"))->isEnabled());

    for (void (AppDelegate::*open)() : {&AppDelegate::showPreferences, &AppDelegate::showHistory}) {
        (delegate.get()->*open)();
        QVERIFY(!overlay.isPanelVisible());
        menuItem(*delegate, QStringLiteral("Show Last Answer"))->trigger();
        QTRY_VERIFY(overlay.isPanelVisible());
        QCOMPARE(model.state(), ExplanationState::content(QStringLiteral("**Photosynthesis** turns light")));
        QCOMPARE(model.detailedText(), std::optional<QString>(QStringLiteral("In detail")));
        QCOMPARE(requestsTo(h->server, "/api/explain"), qsizetype(0));
    }

    // A recording keeps its panel: it is the only sign that the microphone is open.
    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(delegate->transcribeSequence()->isTranscribing());
    delegate->showPreferences();
    QVERIFY(overlay.isPanelVisible());
    menuItem(*delegate, QStringLiteral("Show Last Answer"))->trigger();
    QCoreApplication::processEvents();
    QCOMPARE(model.mode(), ViewMode::transcribe);
    QVERIFY(delegate->transcribeSequence()->isTranscribing());
}

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
