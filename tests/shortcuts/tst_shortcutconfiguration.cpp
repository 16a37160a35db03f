#include "platform/SettingsStore.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QTest>

using namespace quill;

class TestShortcutConfiguration : public QObject {
    Q_OBJECT
private slots:
    void freshStoreGivesDefaults();
    void savedShortcutRoundTrips();
    void storedValuesAreValidated_data();
    void storedValuesAreValidated();
    void aShortcutStoredForTwoActionsStaysWithTheFirst();
    void keyNames_data();
    void keyNames();
    void displayStringOrdersModifiers();
    void rawValues();
    void keyTableMapsBothWays();
    void subscriberGetsCurrentThenChanges();
};

void TestShortcutConfiguration::freshStoreGivesDefaults() {
    MemorySettingsStore settings;
    ShortcutConfiguration config(settings);
    QCOMPARE(config.shortcuts().size(), size_t(3));
    QCOMPARE(displayString(config.shortcut(ShortcutAction::explainSelection)), QStringLiteral("Ctrl+1"));
    QCOMPARE(displayString(config.shortcut(ShortcutAction::transcribeOnly)), QStringLiteral("Ctrl+2"));
    QCOMPARE(displayString(config.shortcut(ShortcutAction::cancelTranscription)), QStringLiteral("Esc"));
    QCOMPARE(config.shortcut(ShortcutAction::explainSelection), (Shortcut{18, 0x100}));
    QVERIFY(settings.values().isEmpty());
}

void TestShortcutConfiguration::savedShortcutRoundTrips() {
    MemorySettingsStore settings;
    ShortcutConfiguration config(settings);
    const Shortcut ctrlShiftK{40, modifier::super | modifier::shift};
    config.setShortcut(ShortcutAction::transcribeOnly, ctrlShiftK);
    QVERIFY(settings.values().isEmpty()); // publishing does not save
    config.saveShortcut(ctrlShiftK, ShortcutAction::transcribeOnly);
    QCOMPARE(settings.values().value("shortcut_transcribeOnly_keyCode").toLongLong(), 40);
    QCOMPARE(settings.values().value("shortcut_transcribeOnly_modifiers").toLongLong(), 4608);
    QCOMPARE(settings.values().size(), 2);

    ShortcutConfiguration reloaded(settings);
    QCOMPARE(reloaded.shortcut(ShortcutAction::transcribeOnly), ctrlShiftK);
    QCOMPARE(displayString(ctrlShiftK), QStringLiteral("Shift+Super+K"));
    QCOMPARE(reloaded.shortcut(ShortcutAction::explainSelection),
             defaultShortcut(ShortcutAction::explainSelection));
}

void TestShortcutConfiguration::storedValuesAreValidated_data() {
    QTest::addColumn<QVariant>("keyCode");
    QTest::addColumn<QVariant>("modifiers");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<Shortcut>("expected");
    const Shortcut fallback = defaultShortcut(ShortcutAction::explainSelection);
    QTest::newRow("only modifiers stored") << QVariant() << QVariant(0x200) << false << fallback;
    QTest::newRow("modifiers missing read as none") << QVariant(40) << QVariant() << true << Shortcut{40, 0};
    QTest::newRow("as text, the way the file keeps it")
        << QVariant("12") << QVariant("256") << true << Shortcut{12, 0x100};
    QTest::newRow("unnamed key still loads")
        << QVariant(50) << QVariant(0x100) << true << Shortcut{50, 0x100};
    QTest::newRow("negative key code") << QVariant(-1) << QVariant(0x100) << false << fallback;
    QTest::newRow("key code above 32 bits") << QVariant(4294967296LL) << QVariant(0) << false << fallback;
    QTest::newRow("largest 32-bit key code")
        << QVariant(4294967295LL) << QVariant(0) << true << Shortcut{4294967295u, 0};
    QTest::newRow("negative modifiers") << QVariant(18) << QVariant(-256) << false << fallback;
    QTest::newRow("not a number") << QVariant("one") << QVariant(0) << false << fallback;
}

void TestShortcutConfiguration::storedValuesAreValidated() {
    QFETCH(QVariant, keyCode);
    QFETCH(QVariant, modifiers);
    QFETCH(bool, loaded);
    QFETCH(Shortcut, expected);
    MemorySettingsStore settings;
    if (keyCode.isValid())
        settings.setValue("shortcut_explainSelection_keyCode", keyCode);
    if (modifiers.isValid())
        settings.setValue("shortcut_explainSelection_modifiers", modifiers);
    ShortcutConfiguration config(settings);
    QCOMPARE(config.loadShortcut(ShortcutAction::explainSelection).has_value(), loaded);
    QCOMPARE(config.shortcut(ShortcutAction::explainSelection), expected);
}

void TestShortcutConfiguration::aShortcutStoredForTwoActionsStaysWithTheFirst() {
    MemorySettingsStore settings;
    const Shortcut ctrl1 = defaultShortcut(ShortcutAction::explainSelection);
    ShortcutConfiguration(settings).saveShortcut(ctrl1, ShortcutAction::cancelTranscription);
    ShortcutConfiguration config(settings);
    QCOMPARE(config.shortcut(ShortcutAction::explainSelection), ctrl1);
    QCOMPARE(config.shortcut(ShortcutAction::cancelTranscription),
             defaultShortcut(ShortcutAction::cancelTranscription));
    QCOMPARE(settings.values().value("shortcut_cancelTranscription_keyCode").toLongLong(), 18);

    // Repairs chain: every action ends on a key of its own.
    const Shortcut ctrlK{40, modifier::ctrl};
    config.saveShortcut(ctrlK, ShortcutAction::explainSelection);
    config.saveShortcut(ctrlK, ShortcutAction::transcribeOnly);
    config.saveShortcut(defaultShortcut(ShortcutAction::transcribeOnly), ShortcutAction::cancelTranscription);
    ShortcutConfiguration crowded(settings);
    QCOMPARE(crowded.shortcut(ShortcutAction::transcribeOnly),
             defaultShortcut(ShortcutAction::transcribeOnly));
    QCOMPARE(crowded.shortcut(ShortcutAction::cancelTranscription),
             defaultShortcut(ShortcutAction::cancelTranscription));
}

void TestShortcutConfiguration::keyNames_data() {
    QTest::addColumn<uint>("code");
    QTest::addColumn<QString>("name");
    QTest::newRow("A") << 0u << "A";
    QTest::newRow("K") << 40u << "K";
    QTest::newRow("5 is not in key order") << 23u << "5";
    QTest::newRow("0") << 29u << "0";
    QTest::newRow("F1") << 122u << "F1";
    QTest::newRow("F12") << 111u << "F12";
    QTest::newRow("Return") << 36u << "Return";
    QTest::newRow("Tab") << 48u << "Tab";
    QTest::newRow("Space") << 49u << "Space";
    QTest::newRow("Backspace") << 51u << "Backspace";
    QTest::newRow("Escape") << 53u << "Esc";
    QTest::newRow("forward delete") << 117u << "Delete";
    QTest::newRow("Up, the last named code") << 126u << "Up";
    QTest::newRow("127") << 127u << "?";
    QTest::newRow("huge") << 100000u << "?";
    QTest::newRow("comma") << 43u << "?";
    QTest::newRow("gap at 10") << 10u << "?";
    QTest::newRow("Home") << 115u << "?";
}

void TestShortcutConfiguration::keyNames() {
    QFETCH(uint, code);
    QFETCH(QString, name);
    QCOMPARE(keyName(code), name);
}

void TestShortcutConfiguration::displayStringOrdersModifiers() {
    using namespace modifier;
    QCOMPARE(displayString({40, shift | super | ctrl | alt}), QStringLiteral("Ctrl+Alt+Shift+Super+K"));
    QCOMPARE(displayString({40, super | ctrl}), QStringLiteral("Ctrl+Super+K"));
    QCOMPARE(displayString({50, ctrl}), QStringLiteral("Ctrl+?"));
    // Bits outside the four modifiers render nothing.
    QCOMPARE(displayString({18, ctrl | 0x10000}), QStringLiteral("Ctrl+1"));
}

void TestShortcutConfiguration::rawValues() {
    QCOMPARE(shortcutActionFromRawValue("explain"), std::nullopt);
    QCOMPARE(shortcutActionFromRawValue("cancelTranscription"), ShortcutAction::cancelTranscription);
    QCOMPARE(allShortcutActions[2], ShortcutAction::cancelTranscription);
    for (ShortcutAction action : allShortcutActions)
        QCOMPARE(shortcutActionFromRawValue(rawValue(action)), action);
}

void TestShortcutConfiguration::keyTableMapsBothWays() {
    for (uint32_t code = 0; code < 130; ++code) {
        const auto info = keyCodeInfo(code);
        if (!info) {
            QCOMPARE(keyName(code), QStringLiteral("?"));
            continue;
        }
        QCOMPARE(keyCodeForQtKey(info->qtKey), code);
    }
    QCOMPARE(keyCodeForQtKey(Qt::Key_Exclam), 18u); // Shift+1 reports the character it types
    QCOMPARE(keyCodeForQtKey(Qt::Key_Backtab), 48u);
    QCOMPARE(keyCodeForQtKey(Qt::Key_F20), std::nullopt);
    QCOMPARE(keySequence({18, modifier::ctrl}), QKeySequence(QStringLiteral("Ctrl+1")));
    QCOMPARE(modifiersFromQt(Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier), 0x900u);
}

void TestShortcutConfiguration::subscriberGetsCurrentThenChanges() {
    MemorySettingsStore settings;
    ShortcutConfiguration config(settings);
    QList<ShortcutMap> seen;
    auto subscription = config.subscribe(this, [&](const ShortcutMap& map) { seen << map; });
    QVERIFY(seen.isEmpty()); // delivered through the event queue, never inside subscribe
    QTRY_COMPARE(seen.size(), 1);
    QCOMPARE(seen[0], config.shortcuts());

    config.setShortcut(ShortcutAction::explainSelection, {40, modifier::ctrl});
    QTRY_COMPARE(seen.size(), 2);
    QCOMPARE(seen[1].at(ShortcutAction::explainSelection), (Shortcut{40, modifier::ctrl}));
    QCOMPARE(seen[1].size(), size_t(3));

    config.setShortcut(ShortcutAction::explainSelection, {41, modifier::ctrl});
    subscription.reset(); // a delivery already queued is dropped too
    QTest::qWait(20);
    QCOMPARE(seen.size(), 2);
}

QTEST_GUILESS_MAIN(TestShortcutConfiguration)
#include "tst_shortcutconfiguration.moc"
