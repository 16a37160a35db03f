#include "AppProcess.h"
#include "DesktopTools.h"
#include "TestBackend.h"

#include <QJsonObject>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTest>
#include <algorithm>

using namespace quill::test;

namespace {

// The application in front: an editor of this test's own, which counts the Escape presses that
// reach it.
class EscapeCountingEditor : public QPlainTextEdit {
public:
    int escapes = 0;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Escape)
            ++escapes;
        QPlainTextEdit::keyPressEvent(event);
    }
};

} // namespace

// Escape and the panel on the test desktop's X server: the real program, the reference backend
// on a loopback port, and an editor in front that reads the keys it gets.
class TestPanelEscapeDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void escapeReachesTheEditorWhileNoPanelShows();
    void escapeDismissesTheVisiblePanelWithoutReachingTheEditor();

private:
    bool panelVisible();
    void activateEditor();

    TestBackend backend;
    AppProcess app;
    EscapeCountingEditor editor;
};

void TestPanelEscapeDesktop::initTestCase() {
    QVERIFY(backend.start());
    QVERIFY(!writeProgramSettings(backend.baseUrl()).isEmpty());
    editor.setPlainText(QStringLiteral("Photosynthesis turns light into chemical energy."));
    editor.setWindowTitle(QStringLiteral("Escape witness"));
    editor.resize(500, 300);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));

    app.start();
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as "), qPrintable(app.lines().join('\n')));
    QVERIFY2(app.waitForLine("AppDelegate: Shortcuts registered"), qPrintable(app.lines().join(u'\n')));
    activateEditor();
}

// The panel is the program's only window titled so; the test's editor has a title of its own.
bool TestPanelEscapeDesktop::panelVisible() {
    QString windows;
    return xdotool({"search", "--onlyvisible", "--name", "^Quillpoint$"}, &windows) && !windows.isEmpty();
}

void TestPanelEscapeDesktop::activateEditor() {
    QVERIFY(xdotool({"windowactivate", "--sync", QString::number(editor.winId())}));
    QTRY_VERIFY(editor.isActiveWindow());
}

void TestPanelEscapeDesktop::escapeReachesTheEditorWhileNoPanelShows() {
    QVERIFY(!panelVisible());
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_COMPARE(editor.escapes, 1);
}

void TestPanelEscapeDesktop::escapeDismissesTheVisiblePanelWithoutReachingTheEditor() {
    editor.selectAll();
    QVERIFY(xdotool({"key", "ctrl+1"}));
    QTRY_VERIFY_WITH_TIMEOUT(panelVisible(), 10000);
    // An explanation, which stays until dismissed, not an error that goes by itself.
    const auto explained = [this] {
        const QList<QJsonObject> requests = backend.requests();
        return std::any_of(requests.cbegin(), requests.cend(),
                           [](const QJsonObject& request) { return request["path"] == "/api/explain"; });
    };
    QTRY_VERIFY_WITH_TIMEOUT(explained(), 10000);
    QVERIFY(editor.isActiveWindow());

    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_VERIFY_WITH_TIMEOUT(!panelVisible(), 5000);
    QCOMPARE(editor.escapes, 1);

    // Gone, the panel leaves the key to the applications again.
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_COMPARE(editor.escapes, 2);
}

QTEST_MAIN(TestPanelEscapeDesktop)
#include "tst_panelescape_desktop.moc"
