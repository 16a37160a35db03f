#include "DesktopTools.h"
#include "app/AppDelegate.h"
#include "app/Services.h"
#include "overlay/OverlayPanelController.h"
#include "shortcuts/GlobalShortcutService.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

using namespace quill;
using namespace quill::test;

// The real program's wiring on the test desktop: a shortcut recorded in the preferences window
// takes over from the old one system-wide.
class TestPreferencesDesktop : public QObject {
    Q_OBJECT
private slots:
    void recordedShortcutReplacesTheOldOne();
};

void TestPreferencesDesktop::recordedShortcutReplacesTheOldOne() {
    const auto services = Services::forThisSession();
    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();
    QVERIFY(delegate.explainShortcutService()->isRegistered());
    ExplanationViewModel& viewModel = delegate.overlayPanelController()->viewModel();

    delegate.showPreferences();
    QWidget* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == QStringLiteral("Quillpoint Preferences"))
            window = widget;
    }
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
    const Shortcut ctrlAltK{40, modifier::command | modifier::option};
    QTRY_COMPARE(ShortcutConfiguration::shared().shortcut(ShortcutAction::explainSelection), ctrlAltK);
    QCOMPARE(ShortcutConfiguration::shared().loadShortcut(ShortcutAction::explainSelection), ctrlAltK);
    QTRY_COMPARE(delegate.explainShortcutService()->currentShortcut(), ctrlAltK);
    QCOMPARE(button->text(), QStringLiteral("Ctrl+Alt+K"));
    window->close();

    // Nothing is selected anywhere, so a triggered explain ends in its message.
    QCOMPARE(viewModel.state(), ExplanationState::idle());
    QVERIFY(xdotool({"key", "ctrl+1"}));
    QTest::qWait(1500);
    QCOMPARE(viewModel.state(), ExplanationState::idle());
    QVERIFY(xdotool({"key", "ctrl+alt+k"}));
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::error("No text selected"), 5000);
}

QTEST_MAIN(TestPreferencesDesktop)
#include "tst_preferences_desktop.moc"
