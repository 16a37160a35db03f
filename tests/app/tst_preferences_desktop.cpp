#include "DesktopTools.h"
#include "X11TestClient.h"
#include "app/AppDelegate.h"
#include "app/Services.h"
#include "overlay/OverlayPanelController.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QToolButton>
#include <xcb/xcb.h>

using namespace quill;
using namespace quill::test;

Q_DECLARE_METATYPE(Shortcut)

namespace {

QWidget* preferencesWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == QStringLiteral("Quillpoint Preferences"))
            return widget;
    }
    return nullptr;
}

} // namespace

// The real program's wiring on the test desktop: a shortcut recorded in the preferences window
// takes over from the old one system-wide.
class TestPreferencesDesktop : public QObject {
    Q_OBJECT
private slots:
    void recordedShortcutReplacesTheOldOne();
    void shortcutsThatCannotWorkAreReportedAndRefused();
    void recorderStoresTheKeyPressedOnOtherLayouts_data();
    void recorderStoresTheKeyPressedOnOtherLayouts();
};

void TestPreferencesDesktop::recordedShortcutReplacesTheOldOne() {
    const auto services = Services::forThisSession();
    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();
    QVERIFY(delegate.explainShortcutService()->isRegistered());
    ExplanationViewModel& viewModel = delegate.overlayPanelController()->viewModel();

    delegate.showPreferences();
    QWidget* window = preferencesWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(xdotool({"windowactivate", "--sync", QString::number(window->winId())}));
    auto* recorder = window->findChild<QWidget*>(QStringLiteral("explainSelection"));
    QVERIFY(recorder);
    auto* button = recorder->findChild<QAbstractButton*>(QStringLiteral("shortcutButton"));
    QVERIFY(button);
    QCOMPARE(button->text(), QStringLiteral("Ctrl+1"));

    // Recording must see Ctrl+1-like presses, so the global grabs step aside meanwhile.
    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(button->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(xdotool({"key", "ctrl+alt+k"}));
    const Shortcut ctrlAltK{40, modifier::ctrl | modifier::alt};
    QTRY_COMPARE(services->shortcutConfiguration().shortcut(ShortcutAction::explainSelection), ctrlAltK);
    QCOMPARE(services->shortcutConfiguration().loadShortcut(ShortcutAction::explainSelection), ctrlAltK);
    QTRY_COMPARE(delegate.explainShortcutService()->currentShortcut(), ctrlAltK);
    QCOMPARE(button->text(), QStringLiteral("Ctrl+Alt+K"));
    window->close();

    // Nothing is selected anywhere, so a triggered explain ends in its message.
    QCOMPARE(viewModel.state(), ExplanationState::idle());
    QVERIFY(xdotool({"key", "ctrl+1"}));
    QTest::qWait(1500); // the old key is no longer ours: nothing comes of it
    QCOMPARE(viewModel.state(), ExplanationState::idle());
    QVERIFY(xdotool({"key", "ctrl+alt+k"}));
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::error("No text selected"), 5000);
}

void TestPreferencesDesktop::shortcutsThatCannotWorkAreReportedAndRefused() {
    // The other program holds Ctrl+Alt+J only with Caps Lock on: the recorder still sees the
    // keys, and a grab that must work in every lock state cannot be had.
    X11TestClient other;
    constexpr xcb_keycode_t keycodeOfJ = 44;
    QVERIFY(other.grab(XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_LOCK, keycodeOfJ));
    const auto services = Services::forThisSession();
    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();
    ExplanationViewModel& viewModel = delegate.overlayPanelController()->viewModel();
    delegate.showPreferences();
    QWidget* window = preferencesWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(xdotool({"windowactivate", "--sync", QString::number(window->winId())}));
    auto row = [window](const char* action) { return window->findChild<QWidget*>(QLatin1String(action)); };
    auto button = [&row](const char* action) {
        return row(action)->findChild<QAbstractButton*>(QStringLiteral("shortcutButton"));
    };
    auto problem = [&row](const char* action) {
        auto* label = row(action)->findChild<QLabel*>(QStringLiteral("errorLabel"));
        return label->isVisible() ? label->text() : QString();
    };

    // A combination another program holds is reported under its row as soon as it is picked...
    QTest::mouseClick(button("explainSelection"), Qt::LeftButton);
    QTRY_COMPARE(button("explainSelection")->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(xdotool({"key", "ctrl+alt+j"}));
    QTRY_COMPARE(problem("explainSelection"),
                 QStringLiteral("Ctrl+Alt+J is already used by another application"));
    QVERIFY(!delegate.explainShortcutService()->isRegistered());

    // ...and the next pick is taken system-wide at once.
    QTest::mouseClick(button("explainSelection"), Qt::LeftButton);
    QTRY_COMPARE(button("explainSelection")->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(xdotool({"key", "ctrl+alt+l"}));
    QTRY_COMPARE(problem("explainSelection"), QString());
    QTRY_VERIFY(delegate.explainShortcutService()->isRegistered());

    // Another action's combination is refused by name; Cancel's reset gives Esc, not Ctrl+1.
    QTest::mouseClick(button("cancelTranscription"), Qt::LeftButton);
    QTRY_COMPARE(button("cancelTranscription")->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(xdotool({"key", "ctrl+2"}));
    QTRY_COMPARE(problem("cancelTranscription"), QStringLiteral("Ctrl+2 is already used by Transcribe Mode"));
    QCOMPARE(services->shortcutConfiguration().shortcut(ShortcutAction::cancelTranscription),
             (Shortcut{53, 0}));
    QTest::mouseClick(button("cancelTranscription"), Qt::LeftButton);
    QTRY_COMPARE(button("cancelTranscription")->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(xdotool({"key", "ctrl+alt+m"}));
    QTRY_COMPARE(button("cancelTranscription")->text(), QStringLiteral("Ctrl+Alt+M"));
    QTest::mouseClick(row("cancelTranscription")->findChild<QToolButton*>(QStringLiteral("resetButton")),
                      Qt::LeftButton);
    QTRY_COMPARE(services->shortcutConfiguration().shortcut(ShortcutAction::cancelTranscription),
                 (Shortcut{53, 0}));
    window->close();

    QVERIFY(xdotool({"key", "ctrl+alt+l"}));
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::error("No text selected"), 5000);
}

void TestPreferencesDesktop::recorderStoresTheKeyPressedOnOtherLayouts_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<xcb_keycode_t>("keycode");
    QTest::addColumn<Shortcut>("stored");
    // AZERTY's "1" key types "&" (which sits on US "7") under Ctrl; QWERTZ types "y" on US "Z".
    QTest::newRow("fr") << "fr" << xcb_keycode_t(10) << Shortcut{18, modifier::ctrl};
    QTest::newRow("de") << "de" << xcb_keycode_t(52) << Shortcut{6, modifier::ctrl};
}

void TestPreferencesDesktop::recorderStoresTheKeyPressedOnOtherLayouts() {
    QFETCH(QString, layout);
    QFETCH(xcb_keycode_t, keycode);
    QFETCH(Shortcut, stored);
    QCOMPARE(QProcess::execute(QStringLiteral("setxkbmap"), {layout}), 0);
    auto restore =
        qScopeGuard([] { QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("us")}); });
    X11TestClient other;
    const auto services = Services::forThisSession();
    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();
    delegate.showPreferences();
    QWidget* window = preferencesWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(xdotool({"windowactivate", "--sync", QString::number(window->winId())}));
    auto* button = window->findChild<QWidget*>(QStringLiteral("explainSelection"))
                       ->findChild<QAbstractButton*>(QStringLiteral("shortcutButton"));

    QTest::mouseClick(button, Qt::LeftButton);
    QTRY_COMPARE(button->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(other.pressWithControl(keycode));
    QTRY_COMPARE(services->shortcutConfiguration().shortcut(ShortcutAction::explainSelection), stored);
    QTRY_COMPARE(delegate.explainShortcutService()->currentShortcut(), stored);
    QVERIFY(delegate.explainShortcutService()->isRegistered());
    window->close();

    // The same physical key with Ctrl triggers it.
    ExplanationViewModel& viewModel = delegate.overlayPanelController()->viewModel();
    QVERIFY(other.pressWithControl(keycode));
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::error("No text selected"), 5000);
}

QTEST_MAIN(TestPreferencesDesktop)
#include "tst_preferences_desktop.moc"
