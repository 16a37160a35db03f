#include "FakePermissions.h"
#include "app/PermissionManager.h"
#include "platform/xdg/DesktopSettingsLauncher.h"

#include <QApplication>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace quill;

namespace {

class FakeKeys final : public KeyEventPoster {
public:
    bool isAvailable() const override { return available; }
    Qt::KeyboardModifiers heldModifiers() override { return {}; }
    bool isKeyHeld() override { return false; }
    void postKey(Qt::Key, Qt::KeyboardModifiers) override {}
    bool available = false;
};

using FakeAccessibility = test::FakeAccessibilityStatus;
using FakeSettings = test::FakeSettingsLauncher;
using FakeMicrophone = test::FakeMicrophoneAccess;

} // namespace

class TestPermissionManager : public QObject {
    Q_OBJECT
private slots:
    void init();
    void accessibilityState_data();
    void accessibilityState();
    void accessibilityAlertOnlyWhenMissing();
    void openSystemSettingsTurnsAccessibilityOn();
    void laterDoesNothing();
    void microphoneAccess_data();
    void microphoneAccess();
    void monitoringReportsEveryIntervalAndNeverAtOnce();
    void monitoringOfAWatchedStatusReportsChangesOnlyAndNeverAsks();
    void alertIsAModalMessageBox();
    void settingsProgramForTheDesktop_data();
    void settingsProgramForTheDesktop();

private:
    PermissionManager& manager();

    FakeAccessibility accessibility;
    FakeKeys keys;
    FakeSettings settings;
    FakeMicrophone microphone;
    QList<PermissionManager::Alert> shown;
    int pressedButton = PermissionManager::firstButtonReturn;
    std::unique_ptr<PermissionManager> instance;
};

void TestPermissionManager::init() {
    accessibility = {};
    keys.available = false;
    settings = {};
    microphone = {};
    shown.clear();
    pressedButton = PermissionManager::firstButtonReturn;
    instance = std::make_unique<PermissionManager>(
        accessibility, keys, settings, microphone,
        [this](const PermissionManager::Alert& alert) {
            shown << alert;
            return pressedButton;
        },
        20);
}

PermissionManager& TestPermissionManager::manager() {
    return *instance;
}

void TestPermissionManager::accessibilityState_data() {
    QTest::addColumn<std::optional<bool>>("busEnabled");
    QTest::addColumn<bool>("xtest");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("canRead");
    QTest::newRow("no bus, no XTEST") << std::optional<bool>() << false << false << false;
    QTest::newRow("no bus, XTEST") << std::optional<bool>() << true << false << true;
    QTest::newRow("bus switched off") << std::optional<bool>(false) << false << false << true;
    QTest::newRow("bus switched on") << std::optional<bool>(true) << true << true << true;
}

void TestPermissionManager::accessibilityState() {
    QFETCH(std::optional<bool>, busEnabled);
    QFETCH(bool, xtest);
    accessibility.enabled = busEnabled;
    keys.available = xtest;
    QTEST(manager().isAccessibilityEnabled(), "trusted");
    QTEST(manager().canReadSelections(), "canRead");
}

void TestPermissionManager::accessibilityAlertOnlyWhenMissing() {
    accessibility.enabled = true;
    manager().showAccessibilityAlert();
    QVERIFY(shown.isEmpty());

    accessibility.enabled = false;
    manager().showAccessibilityAlert();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].messageText, QStringLiteral("Accessibility Permission Required"));
    QVERIFY(shown[0].informativeText.startsWith(QStringLiteral(
        "Quillpoint needs Accessibility permission to:\n\n\u2022 Capture selected text from any "
        "application\n\u2022 Respond to global keyboard shortcuts\n\nClick \"Open System Settings\" ")));
    QCOMPARE(shown[0].style, QMessageBox::Information);
    QCOMPARE(shown[0].buttons, (QStringList{"Open System Settings", "Later"}));
}

void TestPermissionManager::openSystemSettingsTurnsAccessibilityOn() {
    accessibility.enabled = false;
    settings.exists = false; // a desktop without a settings program still gets the switch
    manager().showAccessibilityAlert();
    QCOMPARE(settings.opened, QList<SettingsLauncher::Pane>{SettingsLauncher::Pane::accessibility});
    QCOMPARE(accessibility.setCalls, QList<bool>{true});
    QVERIFY(manager().isAccessibilityEnabled());
}

void TestPermissionManager::laterDoesNothing() {
    accessibility.enabled = false;
    pressedButton = PermissionManager::firstButtonReturn + 1;
    manager().showAccessibilityAlert();
    QCOMPARE(shown.size(), 1);
    QVERIFY(settings.opened.isEmpty());
    QVERIFY(accessibility.setCalls.isEmpty());
}

void TestPermissionManager::microphoneAccess_data() {
    using A = MicrophoneAccess::Authorization;
    QTest::addColumn<A>("state");
    QTest::addColumn<bool>("userAnswer");
    QTest::addColumn<int>("button");
    QTest::addColumn<QList<bool>>("completions");
    QTest::addColumn<QString>("alert");
    QTest::addColumn<bool>("opensSettings");
    const int first = PermissionManager::firstButtonReturn;
    QTest::newRow("authorized") << A::authorized << false << first << QList<bool>{true} << QString() << false;
    QTest::newRow("asked, allowed") << A::notDetermined << true << first << QList<bool>{true} << QString()
                                    << false;
    QTest::newRow("asked, refused") << A::notDetermined << false << first << QList<bool>{false} << QString()
                                    << false;
    QTest::newRow("restricted") << A::restricted << true << first << QList<bool>{}
                                << "Microphone Access Restricted" << false;
    QTest::newRow("denied, open settings")
        << A::denied << true << first << QList<bool>{} << "Microphone Permission Required" << true;
    QTest::newRow("denied, later") << A::denied << true << first + 1 << QList<bool>{}
                                   << "Microphone Permission Required" << false;
}

void TestPermissionManager::microphoneAccess() {
    QFETCH(MicrophoneAccess::Authorization, state);
    QFETCH(bool, userAnswer);
    QFETCH(int, button);
    QFETCH(QList<bool>, completions);
    QFETCH(QString, alert);
    QFETCH(bool, opensSettings);
    microphone.state = state;
    microphone.userAnswer = userAnswer;
    pressedButton = button;
    QList<bool> answers;
    manager().requestMicrophoneAccess([&answers](bool granted) { answers << granted; });
    QCoreApplication::processEvents();
    QCOMPARE(answers, completions);
    QCOMPARE(shown.isEmpty() ? QString() : shown[0].messageText, alert);
    QCOMPARE(settings.opened.contains(SettingsLauncher::Pane::microphone), opensSettings);
    if (alert == QLatin1String("Microphone Access Restricted")) {
        QCOMPARE(shown[0].buttons, QStringList{"OK"});
        QCOMPARE(shown[0].style, QMessageBox::Warning);
    }
}

void TestPermissionManager::monitoringReportsEveryIntervalAndNeverAtOnce() {
    accessibility.enabled = true;
    QList<bool> reports;
    connect(&manager(), &PermissionManager::accessibilityUpdated, this,
            [&reports](bool enabled) { reports << enabled; });
    manager().startAccessibilityMonitoring();
    QVERIFY(reports.isEmpty());
    QTRY_VERIFY(reports.size() >= 2);
    QCOMPARE(reports.mid(0, 2), (QList<bool>{true, true}));
    accessibility.enabled.reset();
    const auto whileOn = reports.size();
    QTRY_VERIFY(reports.size() >= whileOn + 2);
    QCOMPARE(reports.constLast(), false);
    // Gone with its manager.
    instance.reset();
    const auto count = reports.size();
    QTest::qWait(60);
    QCOMPARE(reports.size(), count);
}

void TestPermissionManager::monitoringOfAWatchedStatusReportsChangesOnlyAndNeverAsks() {
    accessibility.watchable = true;
    accessibility.enabled = false;
    QList<bool> reports;
    connect(&manager(), &PermissionManager::accessibilityUpdated, this,
            [&reports](bool enabled) { reports << enabled; });
    manager().startAccessibilityMonitoring();
    QVERIFY(accessibility.changed);
    QTest::qWait(100); // five monitoring intervals
    QVERIFY(reports.isEmpty());
    accessibility.enabled = true;
    accessibility.changed();
    QCOMPARE(reports, QList<bool>{true});
    // A change announced after the manager is gone reaches nobody.
    instance.reset();
    accessibility.changed();
    QCOMPARE(reports.size(), 1);
}

void TestPermissionManager::alertIsAModalMessageBox() {
    QString text;
    QString informative;
    QStringList buttons;
    QTimer::singleShot(0, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        QVERIFY(box);
        text = box->text();
        informative = box->informativeText();
        for (QAbstractButton* button : box->buttons())
            buttons << button->text();
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == QLatin1String("Later"))
                button->click();
        }
    });
    const int result = PermissionManager::showAlertModally(PermissionManager::accessibilityAlert());
    QCOMPARE(result, PermissionManager::firstButtonReturn + 1);
    QCOMPARE(text, QStringLiteral("Accessibility Permission Required"));
    QCOMPARE(informative, PermissionManager::accessibilityAlert().informativeText);
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"Later", "Open System Settings"}));
}

void TestPermissionManager::settingsProgramForTheDesktop_data() {
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<int>("pane");
    QTest::addColumn<QStringList>("command");
    const int a11y = int(SettingsLauncher::Pane::accessibility);
    const int mic = int(SettingsLauncher::Pane::microphone);
    const QStringList all{"gnome-control-center", "systemsettings", "xfce4-accessibility-settings",
                          "pavucontrol"};
    QTest::newRow("GNOME") << "ubuntu:GNOME" << all << a11y
                           << QStringList{"gnome-control-center", "universal-access"};
    QTest::newRow("KDE") << "KDE" << all << a11y << QStringList{"systemsettings", "kcm_access"};
    QTest::newRow("KDE, microphone") << "KDE" << all << mic
                                     << QStringList{"systemsettings", "kcm_pulseaudio"};
    QTest::newRow("XFCE") << "XFCE" << all << a11y << QStringList{"xfce4-accessibility-settings"};
    QTest::newRow("openbox, microphone") << "" << all << mic << QStringList{"pavucontrol", "--tab=4"};
    QTest::newRow("KDE without its program") << "KDE" << QStringList{"gnome-control-center"} << a11y
                                             << QStringList{"gnome-control-center", "universal-access"};
    QTest::newRow("nothing installed") << "GNOME" << QStringList{} << a11y << QStringList{};
}

void TestPermissionManager::settingsProgramForTheDesktop() {
    QFETCH(QString, desktop);
    QFETCH(QStringList, installed);
    QFETCH(int, pane);
    QFETCH(QStringList, command);
    QStringList started;
    DesktopSettingsLauncher launcher(
        desktop, [&installed](const QString& program) { return installed.contains(program); },
        [&started](const QString& program, const QStringList& arguments) {
            started = QStringList{program} + arguments;
            return true;
        });
    QCOMPARE(launcher.open(SettingsLauncher::Pane(pane)), !command.isEmpty());
    QCOMPARE(started, command);
}

QTEST_MAIN(TestPermissionManager)
#include "tst_permissionmanager.moc"
