#include "FakeKeyGrabber.h"
#include "platform/PlatformNull.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QTest>
#include <memory>

using namespace quill;
using quill::test::FakeKeyGrabber;

namespace {

constexpr KeyCombination ctrl1{Qt::Key_1, Qt::ControlModifier};
constexpr KeyCombination ctrl2{Qt::Key_2, Qt::ControlModifier};
const Shortcut commandOne{18, modifier::ctrl};
const Shortcut commandTwo{19, modifier::ctrl};

} // namespace

class TestGlobalShortcutService : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void registeredShortcutTriggersOnALaterTurnOncePerPress_data();
    void registeredShortcutTriggersOnALaterTurnOncePerPress();
    void unregisterAndDestructionReleaseTheKey();
    void updateShortcutMovesOnlyARegisteredShortcut();
    void laterRegistrationOfTheSameShortcutWins();
    void failedRegistrationExplainsWhy_data();
    void failedRegistrationExplainsWhy();
    void withoutAKeyboardHookEveryServiceFailsAndTheHookIsTriedOnce();
    void suspensionReleasesEveryKeyWithoutChangingTheServices();
    void releaseRunsItsOwnHandlerLaterAndOnlyWhileRegistered();

private:
    std::unique_ptr<FakeKeyGrabber> grabber;
    NullKeyboardLayout layout;
    ShortcutNames names{layout};
    std::unique_ptr<ShortcutRegistry> registry;
};

void TestGlobalShortcutService::init() {
    grabber = std::make_unique<FakeKeyGrabber>();
    registry = std::make_unique<ShortcutRegistry>(*grabber, names);
}

void TestGlobalShortcutService::cleanup() {
    registry.reset();
    grabber.reset();
}

void TestGlobalShortcutService::registeredShortcutTriggersOnALaterTurnOncePerPress_data() {
    QTest::addColumn<uint32_t>("keyCode");
    QTest::addColumn<uint32_t>("modifiers");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("qtModifiers");
    QTest::newRow("Ctrl+1") << 18u << modifier::ctrl << Qt::Key_1
                            << Qt::KeyboardModifiers(Qt::ControlModifier);
    QTest::newRow("Esc") << 53u << 0u << Qt::Key_Escape << Qt::KeyboardModifiers();
    QTest::newRow("Alt+Shift+Super+K")
        << 40u << (modifier::alt | modifier::shift | modifier::super) << Qt::Key_K
        << (Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier);
}

void TestGlobalShortcutService::registeredShortcutTriggersOnALaterTurnOncePerPress() {
    QFETCH(uint32_t, keyCode);
    QFETCH(uint32_t, modifiers);
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, qtModifiers);
    int triggers = 0;
    GlobalShortcutService service({keyCode, modifiers}, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    QVERIFY(!service.isRegistered());
    QVERIFY(grabber->grabbed.empty());

    service.registerShortcut();
    QVERIFY(service.isRegistered());
    QCOMPARE(service.registrationError(), std::nullopt);
    const KeyCombination combination{key, qtModifiers};
    QVERIFY(grabber->grabbed.contains(combination));

    // A held key repeats its press; each one triggers, never from inside the hook.
    QVERIFY(grabber->press(combination));
    QVERIFY(grabber->press(combination));
    QCOMPARE(triggers, 0);
    QTRY_COMPARE(triggers, 2);
}

void TestGlobalShortcutService::unregisterAndDestructionReleaseTheKey() {
    int triggers = 0;
    auto service = std::make_unique<GlobalShortcutService>(commandOne, *registry);
    connect(service.get(), &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    service->registerShortcut();
    service->unregister();
    QVERIFY(!service->isRegistered());
    QVERIFY(grabber->grabbed.empty());
    QVERIFY(!registry->contains(commandOne));

    service->registerShortcut();
    QVERIFY(grabber->press(ctrl1));
    // A press already posted when the service goes away does nothing.
    service.reset();
    QVERIFY(grabber->grabbed.empty());
    QTest::qWait(10);
    QCOMPARE(triggers, 0);
}

void TestGlobalShortcutService::updateShortcutMovesOnlyARegisteredShortcut() {
    int triggers = 0;
    GlobalShortcutService service(commandOne, *registry);
    connect(&service, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    service.updateShortcut(commandTwo);
    QCOMPARE(service.currentShortcut(), commandTwo);
    QVERIFY(!service.isRegistered());
    QVERIFY(grabber->grabbed.empty());

    service.registerShortcut();
    QCOMPARE(grabber->grabbed, std::unordered_set<KeyCombination>{ctrl2});
    service.updateShortcut(commandOne);
    QVERIFY(service.isRegistered());
    QCOMPARE(grabber->grabbed, std::unordered_set<KeyCombination>{ctrl1});
    QVERIFY(!registry->contains(commandTwo));
    QVERIFY(grabber->press(ctrl1));
    QTRY_COMPARE(triggers, 1);

    // Moving onto a key that another program holds leaves the service unregistered and says so.
    grabber->takenByOthers.insert(ctrl2);
    service.updateShortcut(commandTwo);
    QVERIFY(!service.isRegistered());
    QCOMPARE(service.registrationError(), QStringLiteral("Ctrl+2 is already used by another application"));
    QVERIFY(grabber->grabbed.empty());
    QCOMPARE(registry->check(commandTwo), QStringLiteral("Ctrl+2 is already used by another application"));

    // The service still wants a key: the next pick is taken at once, not only stored.
    service.updateShortcut(commandOne);
    QVERIFY(service.isRegistered());
    QCOMPARE(service.registrationError(), std::nullopt);
    QCOMPARE(grabber->grabbed, std::unordered_set<KeyCombination>{ctrl1});
    QVERIFY(grabber->press(ctrl1));
    QTRY_COMPARE(triggers, 2);

    // Asking about a free key leaves nothing grabbed; after unregister an update only stores.
    const Shortcut commandThree{20, modifier::ctrl};
    QCOMPARE(registry->check(commandThree), std::nullopt);
    QCOMPARE(grabber->grabbed, std::unordered_set<KeyCombination>{ctrl1});
    service.unregister();
    service.updateShortcut(commandThree);
    QVERIFY(!service.isRegistered());
    QVERIFY(grabber->grabbed.empty());
}

void TestGlobalShortcutService::laterRegistrationOfTheSameShortcutWins() {
    int first = 0;
    int second = 0;
    GlobalShortcutService a(commandOne, *registry);
    connect(&a, &GlobalShortcutService::triggered, this, [&] { ++first; });
    GlobalShortcutService b(commandOne, *registry);
    connect(&b, &GlobalShortcutService::triggered, this, [&] { ++second; });
    a.registerShortcut();
    b.registerShortcut();
    QVERIFY(grabber->press(ctrl1));
    QTRY_COMPARE(second, 1);
    QCOMPARE(first, 0);

    a.unregister();
    QVERIFY(b.isRegistered());
    QVERIFY(!registry->contains(commandOne));
    QVERIFY(!grabber->press(ctrl1));
}

void TestGlobalShortcutService::failedRegistrationExplainsWhy_data() {
    QTest::addColumn<Shortcut>("shortcut");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QString>("error");
    QTest::newRow("taken") << commandOne << true << "Ctrl+1 is already used by another application";
    QTest::newRow("taken, all modifiers") << Shortcut{40, modifier::all} << true
                                          << "Ctrl+Alt+Shift+Super+K is already used by another application";
    QTest::newRow("key not on this keyboard")
        << Shortcut{96, modifier::ctrl} << false << "Ctrl+F5 cannot be used as a shortcut with this keyboard";
    QTest::newRow("stored key code without a key")
        << Shortcut{10, modifier::ctrl} << false << "Ctrl+? cannot be used as a shortcut with this keyboard";
}

void TestGlobalShortcutService::failedRegistrationExplainsWhy() {
    QFETCH(Shortcut, shortcut);
    QFETCH(bool, taken);
    QFETCH(QString, error);
    grabber->missingKeys.insert(Qt::Key_F5);
    if (taken) {
        grabber->takenByOthers.insert(ctrl1);
        grabber->takenByOthers.insert(
            {Qt::Key_K, Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier});
    }
    GlobalShortcutService service(shortcut, *registry);
    service.registerShortcut();
    QVERIFY(!service.isRegistered());
    QCOMPARE(service.registrationError(), error);
    QVERIFY(!registry->contains(shortcut));

    // A later successful registration clears the reason.
    grabber->takenByOthers.clear();
    grabber->missingKeys.clear();
    service.updateShortcut(commandTwo);
    service.registerShortcut();
    QVERIFY(service.isRegistered());
    QCOMPARE(service.registrationError(), std::nullopt);
}

void TestGlobalShortcutService::withoutAKeyboardHookEveryServiceFailsAndTheHookIsTriedOnce() {
    grabber->available = false;
    GlobalShortcutService a(commandOne, *registry);
    GlobalShortcutService b(commandTwo, *registry);
    a.registerShortcut();
    b.registerShortcut();
    a.registerShortcut();
    for (const auto* service : {&a, &b}) {
        QVERIFY(!service->isRegistered());
        QCOMPARE(service->registrationError(),
                 QStringLiteral("No global shortcuts in this session: bind `quillpoint --explain` and "
                                "`quillpoint --transcribe` to keys in your desktop's keyboard settings."));
    }
    QCOMPARE(grabber->installCalls, 1);
    QVERIFY(grabber->grabbed.empty());
    QVERIFY(!registry->contains(commandOne));
}

void TestGlobalShortcutService::suspensionReleasesEveryKeyWithoutChangingTheServices() {
    int triggers = 0;
    GlobalShortcutService explain(commandOne, *registry);
    connect(&explain, &GlobalShortcutService::triggered, this, [&] { ++triggers; });
    GlobalShortcutService transcribe(commandTwo, *registry);
    GlobalShortcutService cancel(Shortcut{53, 0}, *registry);
    explain.registerShortcut();
    transcribe.registerShortcut();

    registry->setSuspended(true);
    QVERIFY(grabber->grabbed.empty());
    QVERIFY(explain.isRegistered() && transcribe.isRegistered());
    QVERIFY(registry->contains(commandOne));

    // Registering while suspended still finds out whether the key is free, but takes nothing yet.
    grabber->takenByOthers.insert({Qt::Key_Escape, {}});
    cancel.registerShortcut();
    QCOMPARE(cancel.registrationError(), QStringLiteral("Esc is already used by another application"));
    grabber->takenByOthers.clear();
    cancel.registerShortcut();
    QVERIFY(cancel.isRegistered());
    transcribe.unregister();
    QVERIFY(grabber->grabbed.empty());

    registry->setSuspended(false);
    QCOMPARE(grabber->grabbed, (std::unordered_set<KeyCombination>{ctrl1, {Qt::Key_Escape, {}}}));
    QVERIFY(grabber->press(ctrl1));
    QTRY_COMPARE(triggers, 1);
}

void TestGlobalShortcutService::releaseRunsItsOwnHandlerLaterAndOnlyWhileRegistered() {
    QStringList calls;
    auto service = std::make_unique<GlobalShortcutService>(commandTwo, *registry);
    connect(service.get(), &GlobalShortcutService::triggered, this, [&] { calls << "press"; });
    connect(service.get(), &GlobalShortcutService::released, this, [&] { calls << "release"; });
    GlobalShortcutService pressOnly(commandOne, *registry);
    connect(&pressOnly, &GlobalShortcutService::triggered, this, [&] { calls << "other press"; });
    service->registerShortcut();
    pressOnly.registerShortcut();

    QVERIFY(grabber->press(ctrl2));
    grabber->release(ctrl2);
    grabber->release(ctrl1); // nobody listens to the other service's release
    QVERIFY(calls.isEmpty());
    QTRY_COMPARE(calls, (QStringList{"press", "release"}));

    // Moved to another key, the release follows; a release posted before the service goes away
    // does nothing.
    service->updateShortcut(Shortcut{20, modifier::ctrl});
    grabber->release(ctrl2);
    grabber->release({Qt::Key_3, Qt::ControlModifier});
    service.reset();
    QTest::qWait(10);
    QCOMPARE(calls, (QStringList{"press", "release"}));
}

QTEST_GUILESS_MAIN(TestGlobalShortcutService)
#include "tst_globalshortcutservice.moc"
