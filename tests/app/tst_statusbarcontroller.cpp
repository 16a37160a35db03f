#include "FakePlatform.h"
#include "app/StatusBarController.h"
#include "backend/AuthService.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

const Shortcut ctrl1{18, modifier::ctrl};
const Shortcut ctrl2{19, modifier::ctrl};

// Counts every change the tray host would be told about.
class MenuChangeCounter : public QObject {
public:
    explicit MenuChangeCounter(QMenu* menu) { menu->installEventFilter(this); }
    int changes = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved ||
            event->type() == QEvent::ActionChanged)
            ++changes;
        return false;
    }
};

// "title|enabled|keys" per item, "-" per separator, in menu order.
QStringList describe(const QMenu* menu) {
    QStringList rows;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            rows << QStringLiteral("-");
        else
            rows << action->text() + u'|' + (action->isEnabled() ? u'1' : u'0') + u'|' +
                        action->shortcut().toString(QKeySequence::PortableText);
    }
    return rows;
}

QAction* find(const QMenu* menu, const QString& title) {
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

struct Fixture {
    FakeSecretStore secrets;
    FakeHostInfo host{QStringLiteral("box")};
    LogCapture log;
    AuthService auth{KeychainHelper(secrets), host, 60000};
    bool trusted = true;
    QStringList calls;
    FakeKeyboardLayout layout;
    ShortcutNames names{layout};
    StatusBarController controller{
        ctrl1, ctrl2, StatusBarController::UpdateCheck::offered, [this] { return trusted; }, auth, names};

    Fixture() {
        const std::pair<void (StatusBarController::*)(), const char*> requests[] = {
            {&StatusBarController::explainRequested, "explain"},
            {&StatusBarController::transcribeRequested, "transcribe"},
            {&StatusBarController::quitRequested, "quit"},
            {&StatusBarController::preferencesRequested, "preferences"},
            {&StatusBarController::historyRequested, "history"},
            {&StatusBarController::accessibilityRequested, "accessibility"},
            {&StatusBarController::updateCheckRequested, "updates"},
            {&StatusBarController::lastAnswerRequested, "last answer"},
        };
        for (const auto& [request, name] : requests)
            QObject::connect(&controller, request, &controller, [this, name = name] { calls << name; });
    }
};

} // namespace

class TestStatusBarController : public QObject {
    Q_OBJECT
private slots:
    void itemsFollowTheStates_data();
    void itemsFollowTheStates();
    void itemsRunTheirActions();
    void noUpdateItemWithoutAnUpdateCheck();
    void unchangedRebuildLeavesThePublishedMenuAlone();
    void shortcutsShowInDesktopWords_data();
    void shortcutsShowInDesktopWords();
    void tooltipNamesBothShortcuts();
    void shortcutsCarryTheLabelsOfTheLayoutInUse();
    void iconFallsBackWhenTheArtworkIsMissing();
    void theUsersActionsFollowTheModes();
};

void TestStatusBarController::itemsFollowTheStates_data() {
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QString>("accessibilityRow");
    QTest::addColumn<QString>("signInRow");
    QTest::newRow("all set") << true << true << "✓ Accessibility Enabled|0|"
                             << "✓ Signed In|0|";
    QTest::newRow("not trusted") << false << true << "⚠ Accessibility Required|1|"
                                 << "✓ Signed In|0|";
    QTest::newRow("signed out") << true << false << "✓ Accessibility Enabled|0|"
                                << "⚠ Sign In Required|1|";
    QTest::newRow("neither") << false << false << "⚠ Accessibility Required|1|"
                             << "⚠ Sign In Required|1|";
}

void TestStatusBarController::itemsFollowTheStates() {
    QFETCH(bool, trusted);
    QFETCH(bool, signedIn);
    QFETCH(QString, accessibilityRow);
    QFETCH(QString, signInRow);
    Fixture f;
    f.trusted = trusted;
    if (!signedIn)
        f.auth.signOut();
    f.controller.buildMenu();
    const QStringList expected = {
        "Quillpoint|0|",
        "-",
        "Explainer Mode|1|Ctrl+1",
        "Transcribe Mode|1|Ctrl+2",
        "Show Last Answer|0|",
        "-",
        accessibilityRow,
        signInRow,
        "-",
        "History...|1|",
        "Preferences...|1|Ctrl+,",
        "Check for Updates...|1|",
        "-",
        "Quit Quillpoint|1|Ctrl+Q",
    };
    QCOMPARE(describe(f.controller.menu()), expected);
}

void TestStatusBarController::itemsRunTheirActions() {
    Fixture f;
    f.trusted = false;
    f.auth.signOut();
    f.controller.buildMenu();
    const QMenu* menu = f.controller.menu();
    const std::pair<const char*, const char*> cases[] = {
        {"Explainer Mode", "explain"},
        {"Transcribe Mode", "transcribe"},
        {"⚠ Accessibility Required", "accessibility"},
        {"⚠ Sign In Required", "preferences"},
        {"History...", "history"},
        {"Preferences...", "preferences"},
        {"Check for Updates...", "updates"},
        {"Quit Quillpoint", "quit"},
    };
    for (const auto& [title, call] : cases) {
        f.calls.clear();
        QAction* action = find(menu, QString::fromUtf8(title));
        QVERIFY2(action, title);
        action->trigger();
        QTRY_COMPARE(f.calls, QStringList{call});
    }
    // The last answer can be shown again once there is one.
    f.calls.clear();
    f.controller.setLastAnswerAvailable(true);
    f.controller.buildMenu();
    find(menu, QStringLiteral("Show Last Answer"))->trigger();
    QTRY_COMPARE(f.calls, QStringList{"last answer"});
    // Granting the right turns the line into a plain status line at the next rebuild.
    f.trusted = true;
    f.controller.buildMenu();
    QAction* line = find(menu, QStringLiteral("✓ Accessibility Enabled"));
    QVERIFY(line);
    QVERIFY(!line->isEnabled());
}

void TestStatusBarController::noUpdateItemWithoutAnUpdateCheck() {
    Fixture f;
    StatusBarController controller{
        ctrl1, ctrl2, StatusBarController::UpdateCheck::none, [] { return true; }, f.auth, f.names};
    controller.buildMenu();
    const QStringList expected = {
        "Quillpoint|0|",
        "-",
        "Explainer Mode|1|Ctrl+1",
        "Transcribe Mode|1|Ctrl+2",
        "Show Last Answer|0|",
        "-",
        "✓ Accessibility Enabled|0|",
        "✓ Signed In|0|",
        "-",
        "History...|1|",
        "Preferences...|1|Ctrl+,",
        "-",
        "Quit Quillpoint|1|Ctrl+Q",
    };
    QCOMPARE(describe(controller.menu()), expected);
}

void TestStatusBarController::unchangedRebuildLeavesThePublishedMenuAlone() {
    Fixture f;
    f.controller.buildMenu();
    MenuChangeCounter counter(f.controller.menu());
    const QList<QAction*> actions = f.controller.menu()->actions();
    const int revision = f.controller.menuRevision();
    for (int i = 0; i < 5; ++i)
        f.controller.buildMenu();
    QCOMPARE(counter.changes, 0);
    QCOMPARE(f.controller.menu()->actions(), actions);
    QCOMPARE(f.controller.menuRevision(), revision);

    f.trusted = false;
    f.controller.buildMenu();
    QCOMPARE(f.controller.menuRevision(), revision + 1);
    QVERIFY(counter.changes > 0);
    QVERIFY(find(f.controller.menu(), QStringLiteral("⚠ Accessibility Required")));

    f.controller.setExplainShortcut({40, modifier::ctrl | modifier::shift});
    f.controller.buildMenu();
    QCOMPARE(f.controller.menuRevision(), revision + 2);
    QCOMPARE(find(f.controller.menu(), QStringLiteral("Explainer Mode"))->shortcut(),
             QKeySequence(QStringLiteral("Ctrl+Shift+K")));
}

void TestStatusBarController::shortcutsShowInDesktopWords_data() {
    QTest::addColumn<uint>("keyCode");
    QTest::addColumn<uint>("modifiers");
    QTest::addColumn<QString>("keys");
    QTest::newRow("all modifiers") << 40u << uint(modifier::all) << "Meta+Ctrl+Alt+Shift+K";
    QTest::newRow("space") << 49u << uint(modifier::alt) << "Alt+Space";
    QTest::newRow("no modifiers") << 96u << 0u << "F5";
    QTest::newRow("key without a name") << 24u << uint(modifier::ctrl) << "Ctrl+=";
    QTest::newRow("unknown key code") << 200u << uint(modifier::ctrl) << "Ctrl+?";
}

void TestStatusBarController::shortcutsShowInDesktopWords() {
    QFETCH(uint, keyCode);
    QFETCH(uint, modifiers);
    QFETCH(QString, keys);
    Fixture f;
    f.controller.setTranscribeShortcut({keyCode, modifiers});
    f.controller.buildMenu();
    QCOMPARE(find(f.controller.menu(), QStringLiteral("Transcribe Mode"))->shortcut(),
             QKeySequence::fromString(keys, QKeySequence::PortableText));
}

void TestStatusBarController::tooltipNamesBothShortcuts() {
    Fixture f;
    f.controller.setupStatusItem();
    QCOMPARE(f.controller.trayIcon()->toolTip(),
             QStringLiteral("Quillpoint - Ctrl+1 Explain | Ctrl+2 Transcribe"));
    QCOMPARE(describe(f.controller.menu()).size(), 14);
    QCOMPARE(f.controller.trayIcon()->contextMenu(), f.controller.menu());

    f.controller.setTranscribeShortcut({49, modifier::ctrl | modifier::shift});
    f.controller.updateTooltip();
    QCOMPARE(f.controller.trayIcon()->toolTip(),
             QStringLiteral("Quillpoint - Ctrl+1 Explain | Ctrl+Shift+Space Transcribe"));
}

// Shortcuts are kept by the key's place; on a French layout the key kept as Q types A.
void TestStatusBarController::shortcutsCarryTheLabelsOfTheLayoutInUse() {
    Fixture f;
    f.layout.labels = {{Qt::Key_Q, QStringLiteral("A")}, {Qt::Key_W, QString::fromUtf8("Ц")}};
    f.controller.setExplainShortcut({12, modifier::ctrl});
    f.controller.setTranscribeShortcut({13, modifier::ctrl | modifier::shift});
    f.controller.setupStatusItem();
    QCOMPARE(f.controller.trayIcon()->toolTip(),
             QString::fromUtf8("Quillpoint - Ctrl+A Explain | Ctrl+Shift+Ц Transcribe"));
    QCOMPARE(find(f.controller.menu(), QStringLiteral("Explainer Mode"))->shortcut().toString(),
             QStringLiteral("Ctrl+A"));
    QCOMPARE(find(f.controller.menu(), QStringLiteral("Transcribe Mode"))->shortcut().toString(),
             QString::fromUtf8("Ctrl+Shift+Ц"));
}

void TestStatusBarController::iconFallsBackWhenTheArtworkIsMissing() {
    const auto artwork = StatusBarController::statusIcon(StatusBarController::iconResource, "no-such-icon");
    QCOMPARE(artwork.source, StatusBarController::IconSource::resource);
    QVERIFY(artwork.icon.isMask());

    const auto letters = StatusBarController::statusIcon(":/icons/missing.svg", "no-such-icon");
    QCOMPARE(letters.source, StatusBarController::IconSource::letters);
    QVERIFY(!letters.icon.pixmap(22).isNull());
}

void TestStatusBarController::theUsersActionsFollowTheModes() {
    Fixture f;
    QStringList requested;
    QObject::connect(&f.controller, &StatusBarController::userActionRequested, &f.controller,
                     [&requested](const QString& id) { requested << id; });
    f.controller.setUserActions(
        {{"fix", "Fix spelling", Shortcut{20, modifier::ctrl}}, {"sum", "Summarize", {}}});
    f.controller.buildMenu();
    const QStringList rows = describe(f.controller.menu());
    QCOMPARE(rows.mid(2, 6),
             (QStringList{"Explainer Mode|1|Ctrl+1", "Transcribe Mode|1|Ctrl+2", "Fix spelling|1|Ctrl+3",
                          "Summarize|1|", "Show Last Answer|0|", "-"}));

    find(f.controller.menu(), "Summarize")->trigger();
    QTRY_COMPARE(requested, QStringList{"sum"});
    QVERIFY(f.calls.isEmpty());

    // A renamed action is a changed menu, though nothing else moved.
    const int revision = f.controller.menuRevision();
    f.controller.setUserActions(
        {{"fix", "Fix spelling", Shortcut{20, modifier::ctrl}}, {"sum", "Sum up", {}}});
    f.controller.buildMenu();
    QCOMPARE(f.controller.menuRevision(), revision + 1);
    f.controller.setUserActions({});
    f.controller.buildMenu();
    QCOMPARE(describe(f.controller.menu()).size(), 14);
}

QTEST_MAIN(TestStatusBarController)
#include "tst_statusbarcontroller.moc"
