#include "FakePortal.h"
#include "platform/PlatformNull.h"
#include "platform/SettingsStore.h"
#include "platform/portal/PortalGlobalShortcuts.h"
#include "platform/portal/PortalKeyEventPoster.h"
#include "platform/portal/PortalKeys.h"
#include "platform/portal/PortalRequest.h"
#include "shortcuts/GlobalShortcutService.h"

#include <QSignalSpy>
#include <QTest>
#include <memory>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace quill;
using namespace quill::portal;
using quill::test::FakePortal;
using quill::test::PrivateBus;

namespace {

constexpr KeyCombination ctrl1{Qt::Key_1, Qt::ControlModifier};
constexpr KeyCombination ctrl2{Qt::Key_2, Qt::ControlModifier};
constexpr KeyCombination escape{Qt::Key_Escape, {}};
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
constexpr std::chrono::milliseconds shortTimeout{300};

} // namespace

class TestPortal : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void requestOutcomes_data();
    void requestOutcomes();
    void requestThatNeverAnswersTimesOutAndIsClosed();
    void requestsOfAGoneCallerDeliverNothing();

    void eachKeyGetsASessionNamedAfterIt();
    void changingOneKeyLeavesTheOthersAndAHeldKeyAlone();
    void desktopsThatBindInBindShortcutsAreAskedThere();
    void activationMapsToTheGrabbedCombinationOncePerPress();
    void desktopRefusalsReachTheRegistryAsLateFailures();
    void shortcutsChangedKeepsTheTriggerAndReportsALostKey();
    void sessionClosedByTheDesktopRefusesItsKey();

    void posterStartsOnceAndTypesPendingKey();
    void keyEventsGoOutOneAtATimeAndAFailedPressEndsThePresses();
    void restoreTokenRoundTrip_data();
    void restoreTokenRoundTrip();
    void refusedKeyboardIsUnavailableAndForgetsTheToken_data();
    void refusedKeyboardIsUnavailableAndForgetsTheToken();

private:
    QString sessionHandle(const QString& token) const;

    std::unique_ptr<PrivateBus> m_bus;
    std::unique_ptr<FakePortal> m_portal;
    QDBusConnection m_client{QString()};
    int m_round = 0;
};

void TestPortal::initTestCase() {
    m_bus = std::make_unique<PrivateBus>();
    if (!m_bus->isRunning())
        QSKIP("dbus-daemon did not start");
}

void TestPortal::init() {
    ++m_round;
    m_portal = std::make_unique<FakePortal>(m_bus->connect(QStringLiteral("fake%1").arg(m_round)));
    m_client = m_bus->connect(QStringLiteral("client%1").arg(m_round));
    QVERIFY(m_client.isConnected());
}

void TestPortal::cleanup() {
    m_portal.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("client%1").arg(m_round));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake%1").arg(m_round));
}

QString TestPortal::sessionHandle(const QString& token) const {
    QString sender = m_client.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2").arg(sender, token);
}

void TestPortal::requestOutcomes_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<FakePortal::Answer>("answer");
    QTest::addColumn<PortalReply::Status>("status");
    QTest::newRow("granted, Response after the reply")
        << 0u << FakePortal::Answer::afterReply << PortalReply::Status::success;
    QTest::newRow("granted, Response before the reply")
        << 0u << FakePortal::Answer::beforeReply << PortalReply::Status::success;
    QTest::newRow("cancelled by the user")
        << 1u << FakePortal::Answer::beforeReply << PortalReply::Status::cancelled;
    QTest::newRow("ended by the desktop")
        << 2u << FakePortal::Answer::afterReply << PortalReply::Status::ended;
}

void TestPortal::requestOutcomes() {
    QFETCH(uint, code);
    QFETCH(FakePortal::Answer, answer);
    QFETCH(PortalReply::Status, status);
    m_portal->responses[QStringLiteral("CreateSession")] = {code, {{QStringLiteral("x"), 7}}, answer};
    QObject context;
    std::vector<PortalReply> replies;
    callWithRequest(m_client, shortcutsInterface, QStringLiteral("CreateSession"), {},
                    {{QStringLiteral("a"), 1}}, std::chrono::seconds(5), &context,
                    [&](const PortalReply& reply) { replies.push_back(reply); });
    QTRY_COMPARE(replies.size(), size_t(1));
    QCOMPARE(replies.front().status, status);
    QCOMPARE(replies.front().results.value(QStringLiteral("x")).toInt(), 7);
    // The caller's options travel with the token the Response path is made of.
    const QVariantMap sent = m_portal->lastOptions(QStringLiteral("CreateSession"));
    QCOMPARE(sent.value(QStringLiteral("a")).toInt(), 1);
    QVERIFY(!sent.value(QStringLiteral("handle_token")).toString().isEmpty());
    QTest::qWait(50);
    QCOMPARE(replies.size(), size_t(1));

    // A method the portal lacks fails at once, without waiting for the deadline.
    callWithRequest(m_client, shortcutsInterface, QStringLiteral("NoSuchMethod"), {}, {},
                    std::chrono::seconds(30), &context,
                    [&](const PortalReply& reply) { replies.push_back(reply); });
    QTRY_COMPARE_WITH_TIMEOUT(replies.size(), size_t(2), 2000);
    QCOMPARE(replies.back().status, PortalReply::Status::failed);
}

void TestPortal::requestThatNeverAnswersTimesOutAndIsClosed() {
    m_portal->responses[QStringLiteral("CreateSession")] = {0, {}, FakePortal::Answer::never};
    QObject context;
    std::optional<PortalReply> outcome;
    callWithRequest(m_client, shortcutsInterface, QStringLiteral("CreateSession"), {}, {}, shortTimeout,
                    &context, [&](const PortalReply& reply) { outcome = reply; });
    QTRY_VERIFY(outcome);
    QCOMPARE(outcome->status, PortalReply::Status::timedOut);
    const QString token = m_portal->lastOptions(QStringLiteral("CreateSession"))
                              .value(QStringLiteral("handle_token"))
                              .toString();
    QTRY_COMPARE(m_portal->callsOf(QStringLiteral("Close")).size(), 1);
    QCOMPARE(m_portal->callsOf(QStringLiteral("Close")).first().path(), requestPath(m_client, token));
}

void TestPortal::requestsOfAGoneCallerDeliverNothing() {
    m_portal->responses[QStringLiteral("CreateSession")] = {0, {}, FakePortal::Answer::afterReply};
    bool called = false;
    {
        QObject context;
        callWithRequest(m_client, shortcutsInterface, QStringLiteral("CreateSession"), {}, {}, shortTimeout,
                        &context, [&](const PortalReply&) { called = true; });
    }
    QTRY_COMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 1);
    QTest::qWait(2 * shortTimeout.count());
    QVERIFY(!called);
}

void TestPortal::eachKeyGetsASessionNamedAfterIt() {
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    QVERIFY(shortcuts.install([](const KeyCombination&) {}, [](const KeyCombination&) {}));
    const KeyCombination altShiftSuperK{Qt::Key_K, Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier};
    shortcuts.describe(ctrl1, QStringLiteral("Explainer Mode"));
    QCOMPARE(shortcuts.grab(ctrl1), KeyGrabber::GrabResult::grabbed);
    QCOMPARE(shortcuts.grab(altShiftSuperK), KeyGrabber::GrabResult::grabbed);
    // The registry's check: a grab taken back in the same turn asks the desktop nothing.
    QCOMPARE(shortcuts.grab(ctrl2), KeyGrabber::GrabResult::grabbed);
    shortcuts.ungrab(ctrl2);
    QCOMPARE(shortcuts.grab(KeyCombination{Qt::Key_VolumeUp, {}}), KeyGrabber::GrabResult::noSuchKey);
    QTRY_COMPARE(settled.size(), 2);
    QTest::qWait(50);

    QCOMPARE(m_portal->callsOf(QStringLiteral("BindShortcuts")).size(), 0);
    QHash<QString, std::pair<QString, QVariantMap>> sent; // token -> (id, properties)
    for (const auto& call : m_portal->callsOf(QStringLiteral("CreateSession"))) {
        const auto options = qdbus_cast<QVariantMap>(call.arguments().last());
        const auto list = portalShortcutList(options.value(QStringLiteral("shortcuts")));
        QCOMPARE(list.size(), 1);
        sent.insert(options.value(QStringLiteral("session_handle_token")).toString(),
                    {list.first().id, list.first().properties});
    }
    QCOMPARE(sent.size(), 2);
    const auto explain = sent.value(QStringLiteral("quillpoint_CTRL_1"));
    QCOMPARE(explain.first, QStringLiteral("CTRL+1"));
    QCOMPARE(explain.second.value(QStringLiteral("description")).toString(),
             QStringLiteral("Explainer Mode"));
    QCOMPARE(explain.second.value(QStringLiteral("preferred_trigger")).toString(), QStringLiteral("CTRL+1"));
    // Without a description the trigger names the action: KDE drops actions without one.
    const auto other = sent.value(QStringLiteral("quillpoint_ALT_SHIFT_LOGO_k"));
    QCOMPARE(other.first, QStringLiteral("ALT+SHIFT+LOGO+k"));
    QCOMPARE(other.second.value(QStringLiteral("description")).toString(),
             QStringLiteral("ALT+SHIFT+LOGO+k"));
    QCOMPARE(shortcuts.assignedTrigger(ctrl1), QStringLiteral("CTRL+1"));
}

void TestPortal::changingOneKeyLeavesTheOthersAndAHeldKeyAlone() {
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    QStringList events;
    shortcuts.install(
        [&](const KeyCombination& c) { events << QStringLiteral("press ") + triggerFor(c.key, c.modifiers); },
        [&](const KeyCombination& c) {
            events << QStringLiteral("release ") + triggerFor(c.key, c.modifiers);
        });
    shortcuts.grab(ctrl2);
    QTRY_COMPARE(settled.size(), 1);
    const QString transcribe = sessionHandle(QStringLiteral("quillpoint_CTRL_2"));
    m_portal->emitGlobalShortcutsSignal(QStringLiteral("Activated"), transcribe,
                                        {QStringLiteral("CTRL+2"), quint64(1), QVariantMap()});
    QTRY_COMPARE(events.size(), 1);

    // A recording starts while the transcribe key is held (hold to talk) and takes the cancel
    // key, and the shortcut store hands the unchanged transcribe key to the registry again: the
    // transcribe session stays open and the release still arrives.
    shortcuts.grab(escape);
    shortcuts.ungrab(ctrl2);
    shortcuts.grab(ctrl2);
    QTRY_COMPARE(settled.size(), 2);
    QCOMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 2);
    QVERIFY(m_portal->callsOf(QStringLiteral("Close")).isEmpty());
    m_portal->emitGlobalShortcutsSignal(QStringLiteral("Deactivated"), transcribe,
                                        {QStringLiteral("CTRL+2"), quint64(2), QVariantMap()});
    QTRY_COMPARE(events, QStringList({QStringLiteral("press CTRL+2"), QStringLiteral("release CTRL+2")}));

    // The recording ends: only the cancel key's session closes, on a later turn.
    shortcuts.ungrab(escape);
    QVERIFY(m_portal->callsOf(QStringLiteral("Close")).isEmpty());
    QTRY_COMPARE(m_portal->callsOf(QStringLiteral("Close")).size(), 1);
    QCOMPARE(m_portal->callsOf(QStringLiteral("Close")).first().path(),
             sessionHandle(QStringLiteral("quillpoint_Escape")));
    // Its late signals are not reported.
    m_portal->emitGlobalShortcutsSignal(QStringLiteral("Activated"),
                                        sessionHandle(QStringLiteral("quillpoint_Escape")),
                                        {QStringLiteral("Escape"), quint64(3), QVariantMap()});

    // Ungrabbed while the portal has not answered yet: the session it then creates is closed.
    m_portal->responses[QStringLiteral("CreateSession")] = {
        0,
        {{QStringLiteral("session_handle"), sessionHandle(QStringLiteral("quillpoint_CTRL_1"))}},
        FakePortal::Answer::late};
    shortcuts.grab(ctrl1);
    QTRY_COMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 3);
    shortcuts.ungrab(ctrl1);
    QTRY_COMPARE(m_portal->callsOf(QStringLiteral("Close")).size(), 2);
    QCOMPARE(m_portal->callsOf(QStringLiteral("Close")).last().path(),
             sessionHandle(QStringLiteral("quillpoint_CTRL_1")));
    QCOMPARE(events.size(), 2);
}

void TestPortal::desktopsThatBindInBindShortcutsAreAskedThere() {
    m_portal->bindsInCreateSession = false;
    m_portal->assignedTriggers[QStringLiteral("CTRL+1")] = QStringLiteral("Meta+E");
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    std::vector<KeyCombination> presses;
    shortcuts.install([&](const KeyCombination& c) { presses.push_back(c); }, [](const KeyCombination&) {});
    shortcuts.grab(ctrl1);
    QTRY_COMPARE(settled.size(), 1);
    const QString session = sessionHandle(QStringLiteral("quillpoint_CTRL_1"));
    const auto binds = m_portal->callsOf(QStringLiteral("BindShortcuts"));
    QCOMPARE(binds.size(), 1);
    QCOMPARE(binds.first().arguments().at(0).value<QDBusObjectPath>().path(), session);
    QCOMPARE(shortcuts.assignedTrigger(ctrl1), QStringLiteral("Meta+E"));
    m_portal->emitGlobalShortcutsSignal(QStringLiteral("Activated"), session,
                                        {QStringLiteral("CTRL+1"), quint64(1), QVariantMap()});
    QTRY_COMPARE(presses.size(), size_t(1));
    QCOMPARE(presses.front(), ctrl1);
}

void TestPortal::activationMapsToTheGrabbedCombinationOncePerPress() {
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    QStringList events;
    auto name = [](const KeyCombination& c) {
        return c == ctrl1 ? QStringLiteral("1") : QStringLiteral("2");
    };
    shortcuts.install([&](const KeyCombination& c) { events << QStringLiteral("press ") + name(c); },
                      [&](const KeyCombination& c) { events << QStringLiteral("release ") + name(c); });
    shortcuts.grab(ctrl1);
    shortcuts.grab(ctrl2);
    QTRY_COMPARE(settled.size(), 2);

    const QString one = sessionHandle(QStringLiteral("quillpoint_CTRL_1"));
    const QString two = sessionHandle(QStringLiteral("quillpoint_CTRL_2"));
    auto emitSignal = [&](const QString& member, const QString& id, const QString& session) {
        m_portal->emitGlobalShortcutsSignal(member, session, {id, quint64(5), QVariantMap()});
    };
    emitSignal(QStringLiteral("Deactivated"), QStringLiteral("CTRL+1"), one); // no press yet
    emitSignal(QStringLiteral("Activated"), QStringLiteral("CTRL+1"), one);
    emitSignal(QStringLiteral("Activated"), QStringLiteral("CTRL+1"), one); // the keyboard's repeat
    emitSignal(QStringLiteral("Activated"), QStringLiteral("CTRL+2"), two);
    emitSignal(QStringLiteral("Deactivated"), QStringLiteral("CTRL+1"), one);
    emitSignal(QStringLiteral("Activated"), QStringLiteral("CTRL+1"), two); // not that session's action
    emitSignal(QStringLiteral("Activated"), QStringLiteral("CTRL+1"),
               QStringLiteral("/org/freedesktop/portal/desktop/session/1_1/other"));
    emitSignal(QStringLiteral("Deactivated"), QStringLiteral("CTRL+2"), two);
    QTRY_COMPARE(events.size(), 4);
    QTest::qWait(50);
    QCOMPARE(events, QStringList({QStringLiteral("press 1"), QStringLiteral("press 2"),
                                  QStringLiteral("release 1"), QStringLiteral("release 2")}));

    // A key no longer grabbed is not reported, even if the desktop still sends it.
    shortcuts.ungrab(ctrl2);
    emitSignal(QStringLiteral("Activated"), QStringLiteral("CTRL+2"), two);
    QTest::qWait(50);
    QCOMPARE(events.size(), 4);
}

void TestPortal::desktopRefusalsReachTheRegistryAsLateFailures() {
    // KDE gives no key to an action whose key another application holds.
    m_portal->assignedTriggers[QStringLiteral("CTRL+1")] = QString();
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    NullKeyboardLayout layout;
    const ShortcutNames names(layout);
    ShortcutRegistry registry(shortcuts, names);
    QStringList failures;
    connect(&registry, &ShortcutRegistry::lateFailureReported, this,
            [&](const QString& message) { failures << message; });
    GlobalShortcutService explain(Shortcut{18, modifier::ctrl}, registry);
    explain.setDescription(QStringLiteral("Explainer Mode"));
    GlobalShortcutService transcribe(Shortcut{19, modifier::ctrl}, registry);
    explain.registerShortcut();
    transcribe.registerShortcut();
    QVERIFY(explain.isRegistered());
    QTRY_COMPARE(failures.size(), 1);
    QVERIFY2(failures.first().contains(QStringLiteral("already used")), qPrintable(failures.first()));
    QTRY_COMPARE(settled.size(), 2);
    // The preferences show it like a failed registration.
    QCOMPARE(explain.registrationError(), failures.first());
    QCOMPARE(transcribe.registrationError(), std::nullopt);

    // Choosing the key again asks the desktop again; a portal that refuses the session refuses
    // the key.
    failures.clear();
    m_portal->responses[QStringLiteral("CreateSession")] = {2, {}, FakePortal::Answer::afterReply};
    explain.updateShortcut(Shortcut{18, modifier::ctrl});
    QTRY_COMPARE(failures.size(), 1);
    QVERIFY2(failures.first().contains(QStringLiteral("did not give")), qPrintable(failures.first()));
    QCOMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 3);
    QCOMPARE(explain.registrationError(), failures.first());
    explain.unregister();
    QCOMPARE(explain.registrationError(), std::nullopt);
}

void TestPortal::shortcutsChangedKeepsTheTriggerAndReportsALostKey() {
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    std::vector<std::pair<KeyCombination, KeyGrabber::GrabResult>> refusals;
    shortcuts.setRefusalHandler([&](const KeyCombination& c, KeyGrabber::GrabResult r) {
        refusals.push_back({c, r});
    });
    shortcuts.install([](const KeyCombination&) {}, [](const KeyCombination&) {});
    shortcuts.grab(ctrl1);
    shortcuts.grab(ctrl2);
    QTRY_COMPARE(settled.size(), 2);
    QVERIFY(refusals.empty());

    auto changed = [&](const QString& session, const QString& trigger) {
        PortalShortcutList list{
            {QStringLiteral("CTRL+1"), {{QStringLiteral("trigger_description"), trigger}}}};
        m_portal->emitGlobalShortcutsSignal(QStringLiteral("ShortcutsChanged"), session,
                                            {QVariant::fromValue(list)});
    };
    const QString one = sessionHandle(QStringLiteral("quillpoint_CTRL_1"));
    changed(sessionHandle(QStringLiteral("quillpoint_CTRL_2")), QStringLiteral("Meta+X"));
    changed(one, QStringLiteral("Meta+E"));
    QTRY_COMPARE(shortcuts.assignedTrigger(ctrl1), QStringLiteral("Meta+E"));
    QCOMPARE(shortcuts.assignedTrigger(ctrl2), QStringLiteral("CTRL+2"));
    QVERIFY(refusals.empty());
    changed(one, QString());
    QTRY_COMPARE(refusals.size(), size_t(1));
    QCOMPARE(refusals.front().first, ctrl1);
    QCOMPARE(refusals.front().second, KeyGrabber::GrabResult::refused);
}

void TestPortal::sessionClosedByTheDesktopRefusesItsKey() {
    PortalGlobalShortcuts shortcuts(m_client);
    QSignalSpy settled(&shortcuts, &PortalGlobalShortcuts::bindingSettled);
    std::vector<KeyCombination> refused;
    std::vector<KeyCombination> presses;
    shortcuts.setRefusalHandler(
        [&](const KeyCombination& c, KeyGrabber::GrabResult) { refused.push_back(c); });
    shortcuts.install([&](const KeyCombination& c) { presses.push_back(c); }, [](const KeyCombination&) {});
    shortcuts.grab(ctrl1);
    QTRY_COMPARE(settled.size(), 1);
    const QString session = sessionHandle(QStringLiteral("quillpoint_CTRL_1"));
    m_portal->closeSession(session);
    QTRY_COMPARE(refused.size(), size_t(1));
    QCOMPARE(refused.front(), ctrl1);
    m_portal->emitGlobalShortcutsSignal(QStringLiteral("Activated"), session,
                                        {QStringLiteral("CTRL+1"), quint64(1), QVariantMap()});
    // Grabbing the key again binds it afresh.
    shortcuts.grab(ctrl1);
    QTRY_COMPARE(m_portal->callsOf(QStringLiteral("CreateSession")).size(), 2);
    QTest::qWait(50);
    QVERIFY(presses.empty());
}

void TestPortal::posterStartsOnceAndTypesPendingKey() {
    MemorySettingsStore settings;
    PortalKeyEventPoster poster(m_client, settings);
    QSignalSpy settled(&poster, &PortalKeyEventPoster::sessionSettled);
    QVERIFY(poster.isAvailable());
    QCOMPARE(poster.heldModifiers(), Qt::NoModifier);
    QVERIFY(!poster.isKeyHeld());
    // Asked for before the desktop has answered: only the last one is typed, once it has.
    poster.postKey(Qt::Key_C, Qt::ControlModifier);
    poster.postKey(Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE(settled.size(), 1);
    QVERIFY(poster.isStarted());
    QCOMPARE(m_portal->lastOptions(QStringLiteral("SelectDevices")).value(QStringLiteral("types")).toUInt(),
             1u);
    const QList<std::pair<int, bool>> paste{
        {XKB_KEY_Control_L, true}, {XKB_KEY_v, true}, {XKB_KEY_v, false}, {XKB_KEY_Control_L, false}};
    QTRY_COMPARE(m_portal->keys, paste);

    m_portal->keys.clear();
    poster.postKey(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    poster.postKey(Qt::Key_VolumeUp, Qt::ControlModifier);
    const QList<std::pair<int, bool>> chord{{XKB_KEY_Control_L, true}, {XKB_KEY_Shift_L, true},
                                            {XKB_KEY_Alt_L, true},     {XKB_KEY_z, true},
                                            {XKB_KEY_z, false},        {XKB_KEY_Alt_L, false},
                                            {XKB_KEY_Shift_L, false},  {XKB_KEY_Control_L, false}};
    QTRY_COMPARE(m_portal->keys, chord);
    QCOMPARE(m_portal->callsOf(QStringLiteral("Start")).size(), 1);
}

// The portal handles each call on a thread of its own; two key events in flight at once may
// reach the desktop swapped, and Ctrl released before V is pressed types "v" into the document.
void TestPortal::keyEventsGoOutOneAtATimeAndAFailedPressEndsThePresses() {
    MemorySettingsStore settings;
    PortalKeyEventPoster poster(m_client, settings);
    QSignalSpy settled(&poster, &PortalKeyEventPoster::sessionSettled);
    QTRY_COMPARE(settled.size(), 1);
    m_portal->keyAnswerDelayMs = 20;
    poster.postKey(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    const QList<std::pair<int, bool>> paste{{XKB_KEY_Control_L, true}, {XKB_KEY_Shift_L, true},
                                            {XKB_KEY_v, true},         {XKB_KEY_v, false},
                                            {XKB_KEY_Shift_L, false},  {XKB_KEY_Control_L, false}};
    QTRY_COMPARE(m_portal->keys, paste);
    QCOMPARE(m_portal->mostKeyEventsInFlight, 1);

    // Without Shift the paste would be another command: nothing more is pressed, all is released.
    m_portal->keys.clear();
    m_portal->refusedKeysym = XKB_KEY_Shift_L;
    poster.postKey(Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    const QList<std::pair<int, bool>> released{{XKB_KEY_Control_L, true},
                                               {XKB_KEY_Shift_L, true},
                                               {XKB_KEY_v, false},
                                               {XKB_KEY_Shift_L, false},
                                               {XKB_KEY_Control_L, false}};
    QTRY_COMPARE(m_portal->keys, released);
    QVERIFY(poster.isAvailable());
}

void TestPortal::restoreTokenRoundTrip_data() {
    QTest::addColumn<uint>("version");
    QTest::newRow("version 2 keeps the consent") << 2u;
    QTest::newRow("version 1 has no restore token") << 1u;
}

void TestPortal::restoreTokenRoundTrip() {
    QFETCH(uint, version);
    m_portal->remoteDesktopVersion = version;
    MemorySettingsStore settings;
    const bool persists = version >= 2;
    {
        m_portal->nextRestoreToken = persists ? QStringLiteral("first") : QString();
        PortalKeyEventPoster poster(m_client, settings);
        QSignalSpy settled(&poster, &PortalKeyEventPoster::sessionSettled);
        QTRY_COMPARE(settled.size(), 1);
        const QVariantMap options = m_portal->lastOptions(QStringLiteral("SelectDevices"));
        QCOMPARE(options.contains(QStringLiteral("persist_mode")), persists);
        if (persists)
            QCOMPARE(options.value(QStringLiteral("persist_mode")).toUInt(), 2u);
        QVERIFY(!options.contains(QStringLiteral("restore_token")));
    }
    QCOMPARE(settings.value(PortalKeyEventPoster::restoreTokenKey).has_value(), persists);
    if (!persists)
        return;
    m_portal->nextRestoreToken = QStringLiteral("second");
    PortalKeyEventPoster again(m_client, settings);
    QSignalSpy settled(&again, &PortalKeyEventPoster::sessionSettled);
    QTRY_COMPARE(settled.size(), 1);
    QCOMPARE(m_portal->lastOptions(QStringLiteral("SelectDevices"))
                 .value(QStringLiteral("restore_token"))
                 .toString(),
             QStringLiteral("first"));
    QCOMPARE(settings.value(PortalKeyEventPoster::restoreTokenKey)->toString(), QStringLiteral("second"));
}

void TestPortal::refusedKeyboardIsUnavailableAndForgetsTheToken_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<uint>("code");
    QTest::addColumn<FakePortal::Answer>("answer");
    QTest::newRow("user says no") << QStringLiteral("Start") << 1u << FakePortal::Answer::afterReply;
    QTest::newRow("desktop ends it") << QStringLiteral("SelectDevices") << 2u
                                     << FakePortal::Answer::beforeReply;
    QTest::newRow("no answer") << QStringLiteral("Start") << 0u << FakePortal::Answer::never;
}

void TestPortal::refusedKeyboardIsUnavailableAndForgetsTheToken() {
    QFETCH(QString, method);
    QFETCH(uint, code);
    QFETCH(FakePortal::Answer, answer);
    m_portal->responses[method] = {code, {}, answer};
    MemorySettingsStore settings;
    settings.setValue(PortalKeyEventPoster::restoreTokenKey, QStringLiteral("stale"));
    PortalKeyEventPoster poster(m_client, settings, PortalKeyEventPoster::Options{shortTimeout});
    QSignalSpy settled(&poster, &PortalKeyEventPoster::sessionSettled);
    poster.postKey(Qt::Key_V, Qt::ControlModifier);
    QTRY_COMPARE(settled.size(), 1);
    QVERIFY(!poster.isAvailable());
    QVERIFY(!settings.value(PortalKeyEventPoster::restoreTokenKey));
    poster.postKey(Qt::Key_V, Qt::ControlModifier);
    QTest::qWait(50);
    QVERIFY(m_portal->keys.isEmpty());
    // The half-made session is not left open.
    QTRY_VERIFY(!m_portal->callsOf(QStringLiteral("Close")).isEmpty());
}

QTEST_GUILESS_MAIN(TestPortal)
#include "tst_portal.moc"
