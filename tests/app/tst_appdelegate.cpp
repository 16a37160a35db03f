#include "FakeKeyGrabber.h"
#include "FakePlatform.h"
#include "app/AppDelegate.h"
#include "app/StatusBarController.h"
#include "backend/AuthService.h"
#include "platform/SettingsStore.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QSystemTrayIcon>
#include <QTest>
#include <memory>

using namespace quill;
using namespace quill::test;
using namespace std::chrono_literals;

namespace {

constexpr qint64 ownProcess = 4000;
constexpr KeyCombination ctrl1{0x31, xmodifier::control};
constexpr KeyCombination ctrl2{0x32, xmodifier::control};
constexpr KeyCombination escape{0xff1b, 0};

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

private:
    std::unique_ptr<AppDelegate> launch();

    LogCapture* log = nullptr;
    std::unique_ptr<LogCapture> logCapture;
    MemorySettingsStore settings;
    std::unique_ptr<ShortcutConfiguration> store;
    std::unique_ptr<FakeKeyGrabber> grabber;
    std::unique_ptr<ShortcutRegistry> registry;
    std::unique_ptr<FakeActiveWindowTracker> tracker;
    FakeSecretStore secrets;
    FakeHostInfo host{QStringLiteral("host")};
    std::unique_ptr<AuthService> auth;
};

void TestAppDelegate::init() {
    logCapture = std::make_unique<LogCapture>();
    log = logCapture.get();
    store = std::make_unique<ShortcutConfiguration>(settings);
    grabber = std::make_unique<FakeKeyGrabber>();
    registry = std::make_unique<ShortcutRegistry>(*grabber);
    tracker = std::make_unique<FakeActiveWindowTracker>();
    auth = std::make_unique<AuthService>(KeychainHelper(secrets), host, 0);
}

void TestAppDelegate::cleanup() {
    auth.reset();
    tracker.reset();
    registry.reset();
    grabber.reset();
    store.reset();
    logCapture.reset();
}

std::unique_ptr<AppDelegate> TestAppDelegate::launch() {
    AppDelegate::Dependencies dependencies;
    dependencies.shortcutStore = store.get();
    dependencies.shortcutRegistry = registry.get();
    dependencies.activeWindowTracker = tracker.get();
    dependencies.authService = auth.get();
    dependencies.processId = ownProcess;
    dependencies.registrationErrorDelay = 50ms;
    auto delegate = std::make_unique<AppDelegate>(dependencies);
    delegate->applicationDidFinishLaunching();
    return delegate;
}

void TestAppDelegate::launchRegistersExplainAndTranscribeAndDispatchesTheirPresses() {
    const auto delegate = launch();
    QVERIFY(delegate->explainShortcutService()->isRegistered());
    QVERIFY(delegate->transcribeShortcutService()->isRegistered());
    QVERIFY(!delegate->cancelShortcutService()->isRegistered());
    QCOMPARE(delegate->cancelShortcutService()->currentShortcut(), (Shortcut{53, 0}));
    QCOMPARE(grabber->grabbed, (std::unordered_set<KeyCombination>{ctrl1, ctrl2}));

    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(delegate->isTranscribing());
    QVERIFY(grabber->press(ctrl2));
    QTRY_VERIFY(!delegate->isTranscribing());

    QVERIFY(grabber->press(ctrl1));
    QTRY_VERIFY(log->lines.contains(QStringLiteral("AppDelegate: Explain requested")));
    // Escape is not taken from the applications while nothing records.
    QVERIFY(!grabber->press(escape));
}

void TestAppDelegate::theFirstRegistrationErrorIsShownAfterTheDelay_data() {
    QTest::addColumn<bool>("hookAvailable");
    QTest::addColumn<QList<KeyCombination>>("taken");
    QTest::addColumn<QString>("shown");
    QTest::newRow("no keyboard hook")
        << false << QList<KeyCombination>{}
        << "AppDelegate: Failed to create event tap. Grant Accessibility permission and restart.";
    QTest::newRow("both taken: explain's first")
        << true << QList<KeyCombination>{ctrl1, ctrl2}
        << "AppDelegate: Ctrl+1 is already used by another application";
    QTest::newRow("transcribe taken") << true << QList<KeyCombination>{ctrl2}
                                      << "AppDelegate: Ctrl+2 is already used by another application";
}

void TestAppDelegate::theFirstRegistrationErrorIsShownAfterTheDelay() {
    QFETCH(bool, hookAvailable);
    QFETCH(QList<KeyCombination>, taken);
    QFETCH(QString, shown);
    grabber->available = hookAvailable;
    grabber->takenByOthers.insert(taken.cbegin(), taken.cend());
    const auto delegate = launch();
    QVERIFY(log->lines.filter(QStringLiteral("AppDelegate:")).isEmpty());
    QTRY_COMPARE(log->lines.filter(QStringLiteral("AppDelegate:")), QStringList{shown});
    QTest::qWait(100);
    QCOMPARE(log->lines.filter(QStringLiteral("AppDelegate:")).size(), 1);
}

void TestAppDelegate::observerAppliesEachDeliveredEntryAndSkipsMissingOnes() {
    const auto delegate = launch();
    StatusBarController* statusBar = delegate->statusBarController();
    const Shortcut altK{40, modifier::option};
    const Shortcut ctrl3{20, modifier::command};

    delegate->applyShortcuts({{ShortcutAction::transcribeOnly, altK}});
    QCOMPARE(delegate->explainShortcutService()->currentShortcut(), (Shortcut{18, modifier::command}));
    QCOMPARE(delegate->transcribeShortcutService()->currentShortcut(), altK);
    QCOMPARE(statusBar->transcribeShortcut(), altK);
    QCOMPARE(statusBar->trayIcon()->toolTip(),
             QStringLiteral("Quillpoint - Ctrl+1 Explain | Alt+K Transcribe"));
    QCOMPARE(grabber->grabbed, (std::unordered_set<KeyCombination>{ctrl1, {0x6b, xmodifier::mod1}}));

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

    const Shortcut ctrlShiftE{14, modifier::command | modifier::shift};
    store->setShortcut(ShortcutAction::explainSelection, ctrlShiftE);
    QTRY_COMPARE(delegate->explainShortcutService()->currentShortcut(), ctrlShiftE);
    QVERIFY(delegate->explainShortcutService()->isRegistered());
    QCOMPARE(statusBar->explainShortcut(), ctrlShiftE);
    QVERIFY(statusBar->menuRevision() > revision);
    QCOMPARE(statusBar->trayIcon()->toolTip(),
             QStringLiteral("Quillpoint - Ctrl+Shift+E Explain | Ctrl+2 Transcribe"));
    QVERIFY(grabber->grabbed.contains({0x65, xmodifier::control | xmodifier::shift}));
    QVERIFY(!grabber->grabbed.contains(ctrl1));
}

void TestAppDelegate::lastActiveApplicationIgnoresThisProcess() {
    tracker->front = ownProcess;
    auto delegate = launch();
    QCOMPARE(delegate->lastActiveAppPID(), std::nullopt);
    tracker->activate(ownProcess);
    QCOMPARE(delegate->lastActiveAppPID(), std::nullopt);
    tracker->activate(501);
    QCOMPARE(delegate->lastActiveAppPID(), 501);
    tracker->activate(ownProcess);
    QCOMPARE(delegate->lastActiveAppPID(), 501);

    // Another program in front at launch is remembered at once.
    delegate.reset();
    tracker->front = 777;
    delegate = launch();
    QCOMPARE(delegate->lastActiveAppPID(), 777);
}

void TestAppDelegate::quitUnregistersExplainAndTranscribe() {
    const auto delegate = launch();
    delegate->applicationWillTerminate();
    QVERIFY(!delegate->explainShortcutService()->isRegistered());
    QVERIFY(!delegate->transcribeShortcutService()->isRegistered());
    QVERIFY(grabber->grabbed.empty());
}

QTEST_MAIN(TestAppDelegate)
#include "tst_appdelegate.moc"
