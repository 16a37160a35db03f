#include "AccessibleEditor.h"
#include "AppProcess.h"
#include "DesktopTools.h"
#include "TestBackend.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

using namespace quill::test;

namespace {

const QString supportDir = QStringLiteral(QUILL_TEST_SUPPORT_DIR);

// A key press as the user's keyboard makes it, through mutter's RemoteDesktop API (the session's
// keyboard helper): GNOME sees it like any other key.
bool pressKeys(const QString& combination) {
    QProcess keys;
    keys.start(supportDir + "/session-keys", {"key", combination});
    return keys.waitForFinished(30000) && keys.exitCode() == 0;
}

// The list of custom key bindings. A read that fails (a loaded session sometimes gives an empty
// answer) is made again, so that a failed read never counts as a binding gone.
QString customBindings() {
    QString bindings;
    for (int tries = 0; tries < 5; ++tries) {
        bool ok = false;
        bindings = commandOutput(
            "gsettings", {"get", "org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings"}, &ok);
        if (ok && (bindings.startsWith(u'[') || bindings.startsWith(QStringLiteral("@as"))))
            break;
    }
    return bindings;
}

} // namespace

// The real program in headless GNOME Shell 43 (no GlobalShortcuts portal), mousepad as a native
// Wayland window in front, the reference backend on a loopback port and speech playing into the
// microphone. Every key is pressed on the session's keyboard, as a user presses it.
class TestGnomeDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void explainReadsTheSelectionWithoutTakingTheFocus();
    void firstTranscriptIsPastedOnceTheUserAllowsTheKeyboard();
    void escapeCancelsARecordingAndIsGivenBackAfterwards();
    void diagnoseNamesTheMechanisms();
    void bindingsGoAtQuitAndTheUsersStay();
    void refusedKeyboardLeavesTheTranscriptOnTheClipboard();

private:
    QList<QJsonObject> requestsTo(const QString& path) const;
    QStringList recordings() const;
    // Reading the clipboard takes the focus for a moment (wl-paste without data-control).
    QString clipboard() const;
    // Gives the editor the focus as a person does, with Alt+Tab: GNOME gives it no window of its
    // own accord.
    bool focusEditor();
    // `ok`, after printing the program's last lines when it is false: a failure's own message is
    // cut at a kilobyte, which the program's log outgrows.
    bool orShowLog(bool ok) const;
    // Presses a combination until `program` learns of it, at most a few times: the session's
    // keyboard may drop the first events after a focus change, and GNOME takes a moment to grab
    // a key newly bound. A press that arrived is never repeated, as that would undo it. The
    // number of presses it took, 0 when none arrived or `done` did not hold after; `lastPress`
    // starts at the last one.
    int pressUntil(const AppProcess& program, const QString& combination, const std::function<bool()>& done,
                   QElapsedTimer* lastPress = nullptr);

    TestBackend backend;
    QTemporaryDir documents;
    QProcess editorProcess;
    std::unique_ptr<AccessibleEditor> editor;
    std::unique_ptr<MicFeeder> microphone;
    AppProcess app;
};

void TestGnomeDesktop::initTestCase() {
    QVERIFY(!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
    QVERIFY(!qEnvironmentVariableIsEmpty("QUILL_TEST_KEYS"));
    QVERIFY(backend.start());
    QVERIFY(!writeProgramSettings(backend.baseUrl(), "transcriptionKeepClipboard=true\n").isEmpty());
    // A binding of the user's own, which must survive everything below.
    commandOutput("gsettings",
                  {"set", "org.gnome.settings-daemon.plugins.media-keys", "custom-keybindings",
                   "['/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/custom0/']"});
    commandOutput(
        "gsettings",
        {"set",
         "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:/org/gnome/settings-daemon/"
         "plugins/media-keys/custom-keybindings/custom0/",
         "binding", "<Control>9"});

    const QString documentPath = documents.path() + "/notes.txt";
    QFile document(documentPath);
    QVERIFY(document.open(QIODevice::WriteOnly));
    document.write("Photosynthesis turns light into chemical energy.");
    document.close();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("GDK_BACKEND", "wayland");
    editorProcess.setProcessEnvironment(env);
    editorProcess.start("mousepad", {documentPath});
    QVERIFY(editorProcess.waitForStarted());
    editor = std::make_unique<AccessibleEditor>(editorProcess.processId());
    QVERIFY(QTest::qWaitFor([this] { return editor->find(); }, 15000));
    // mutter does not focus a window that no user action started: the user switches to it.
    QVERIFY(focusEditor());

    microphone = std::make_unique<MicFeeder>(speechPcm("Please write this down, one two three."));
    // The user's clipboard, set by a native Wayland client. Without data-control in GNOME,
    // wl-copy and wl-paste each need a moment of focus, which a loaded session may not give them.
    for (int tries = 0; tries < 6 && clipboard() != QStringLiteral("user's own clipboard"); ++tries) {
        QProcess::startDetached("wl-copy", {"user's own clipboard"});
        (void)QTest::qWaitFor([this] { return clipboard() == QStringLiteral("user's own clipboard"); }, 5000);
    }
    QCOMPARE(clipboard(), QStringLiteral("user's own clipboard"));
    // They may have left it elsewhere; the program's start must not take it.
    QVERIFY(focusEditor());

    // The program marks each key press that reaches it.
    app.start({"QT_LOGGING_RULES=quillpoint.latency.debug=true"});
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as "), qPrintable(app.lines().join('\n')));
    const auto bothBound = [] {
        const QString bindings = customBindings();
        return bindings.contains("quillpoint-control-1") && bindings.contains("quillpoint-control-2");
    };
    QVERIFY2(QTest::qWaitFor(bothBound, 20000), qPrintable(customBindings() + '\n' + app.lines().join('\n')));
    QVERIFY(customBindings().contains("custom0"));
    // Escape stays with the applications while no recording runs.
    QVERIFY(!customBindings().contains("quillpoint-escape"));
    QVERIFY(editor->isActive());
}

void TestGnomeDesktop::cleanupTestCase() {
    microphone.reset();
    editorProcess.kill();
    editorProcess.waitForFinished(3000);
}

QList<QJsonObject> TestGnomeDesktop::requestsTo(const QString& path) const {
    QList<QJsonObject> matching;
    for (const QJsonObject& request : backend.requests()) {
        if (request["path"].toString() == path)
            matching << request;
    }
    return matching;
}

QStringList TestGnomeDesktop::recordings() const {
    return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).entryList({"quill_recording_*"}, QDir::Files);
}

bool TestGnomeDesktop::focusEditor() {
    for (int tries = 0; tries < 10; ++tries) {
        if (editor->isActive())
            return true;
        pressKeys("alt+tab");
        if (QTest::qWaitFor([this] { return editor->isActive(); }, 1000))
            return true;
    }
    return editor->isActive();
}

bool TestGnomeDesktop::orShowLog(bool ok) const {
    if (!ok) {
        const QStringList lines = app.lines();
        for (const QString& line : lines.mid(std::max<qsizetype>(0, lines.size() - 60)))
            qWarning("program: %s", qPrintable(line));
    }
    return ok;
}

QString TestGnomeDesktop::clipboard() const {
    // wl-paste needs a moment of focus in GNOME, which a loaded session may not give it at once.
    QString text;
    for (int tries = 0; tries < 3; ++tries) {
        bool ok = false;
        text = commandOutput("wl-paste", {"--no-newline"}, &ok);
        if (ok)
            break;
    }
    return text;
}

int TestGnomeDesktop::pressUntil(const AppProcess& program, const QString& combination,
                                 const std::function<bool()>& done, QElapsedTimer* lastPress) {
    const auto arrivals = [&program] {
        return program.lines().filter("quillpoint.latency: key event").size();
    };
    for (int presses = 1; presses <= 4; ++presses) {
        const qsizetype before = arrivals();
        if (lastPress)
            lastPress->start();
        if (!pressKeys(combination))
            return 0;
        if (QTest::qWaitFor([&] { return done() || arrivals() > before; }, 5000))
            return QTest::qWaitFor(done, 20000) ? presses : 0;
    }
    return 0;
}

void TestGnomeDesktop::explainReadsTheSelectionWithoutTakingTheFocus() {
    QVERIFY(pressKeys("End"));
    QVERIFY(QTest::qWaitFor([this] { return editor->caretAtEnd(); }, 5000));
    QVERIFY(editor->selectAll());
    QElapsedTimer pressed;
    const int presses = pressUntil(
        app, "ctrl+1", [this] { return !requestsTo("/api/explain").isEmpty(); }, &pressed);
    QVERIFY(orShowLog(presses > 0));
    qInfo("Ctrl+1 -> explain request: %lld ms (press %d)", qint64(pressed.elapsed()), presses);
    QCOMPARE(requestsTo("/api/explain").size(), 1);
    const QJsonObject body = requestsTo("/api/explain").constFirst()["json"].toObject();
    QCOMPARE(body["text"].toString(), QStringLiteral("Photosynthesis turns light into chemical energy."));
    QString panel;
    QVERIFY(orShowLog(QTest::qWaitFor(
        [&] {
            return xdotool(
                {"search", "--onlyvisible", "--pid", QString::number(app.pid()), "--name", "^Quillpoint$"},
                &panel);
        },
        15000)));
    QTest::qWait(500);
    QVERIFY(editor->isActive());
    QCOMPARE(editor->text(), QStringLiteral("Photosynthesis turns light into chemical energy."));
    QCOMPARE(clipboard(), QStringLiteral("user's own clipboard"));
}

void TestGnomeDesktop::firstTranscriptIsPastedOnceTheUserAllowsTheKeyboard() {
    QVERIFY(editor->placeCaretAtEnd());
    QVERIFY(pressUntil(app, "ctrl+2", [this] { return recordings().size() == 1; }) > 0);
    QTest::qWait(1500);
    // GNOME asks at the first paste; the user allows it in the dialog.
    QProcess consent;
    consent.start(supportDir + "/answer-consent", {"--timeout", "30"});
    QElapsedTimer stopped;
    // The recording's file stays until its text has arrived: the upload is what shows the stop.
    QVERIFY(pressUntil(
                app, "ctrl+2", [this] { return !requestsTo("/api/transcribe").isEmpty(); }, &stopped) > 0);
    QCOMPARE(requestsTo("/api/transcribe").size(), 1);
    QVERIFY2(consent.waitForFinished(40000) && consent.exitCode() == 0,
             qPrintable(QString::fromUtf8(consent.readAllStandardError())));
    const int bytes = requestsTo("/api/transcribe").constFirst()["bodyLength"].toInt();
    const QString expected = QStringLiteral("Demo transcription of %1 bytes of audio.").arg(bytes);
    QVERIFY2(orShowLog(QTest::qWaitFor([&] { return editor->text().endsWith(expected); }, 15000)),
             qPrintable(editor->text()));
    qInfo("Ctrl+2 (stop) -> pasted, with the consent dialog: %lld ms", qint64(stopped.elapsed()));
    QVERIFY(editor->isActive());
    QVERIFY2(QTest::qWaitFor([this] { return clipboard() == QStringLiteral("user's own clipboard"); }, 10000),
             qPrintable(clipboard()));

    // Later pastes need no dialog.
    QVERIFY(focusEditor());
    QVERIFY(editor->placeCaretAtEnd());
    QVERIFY(pressUntil(app, "ctrl+2", [this] { return recordings().size() == 1; }) > 0);
    QTest::qWait(1200);
    const QString before = editor->text();
    QVERIFY(pressUntil(
                app, "ctrl+2", [this] { return requestsTo("/api/transcribe").size() == 2; }, &stopped) > 0);
    QVERIFY2(orShowLog(QTest::qWaitFor(
                 [&] {
                     const QString text = editor->text();
                     return text.size() > before.size() && text.endsWith("audio.");
                 },
                 15000)),
             qPrintable(editor->text()));
    qInfo("Ctrl+2 (stop) -> pasted: %lld ms", qint64(stopped.elapsed()));
    QVERIFY(editor->isActive());
    QVERIFY2(QTest::qWaitFor([this] { return clipboard() == QStringLiteral("user's own clipboard"); }, 10000),
             qPrintable(clipboard()));
}

void TestGnomeDesktop::escapeCancelsARecordingAndIsGivenBackAfterwards() {
    const qsizetype before = requestsTo("/api/transcribe").size();
    QVERIFY(pressUntil(app, "ctrl+2", [this] { return recordings().size() == 1; }) > 0);
    QVERIFY(orShowLog(QTest::qWaitFor([] { return customBindings().contains("quillpoint-escape"); }, 15000)));
    QTest::qWait(800);
    QVERIFY(pressUntil(app, "Escape", [this] { return recordings().isEmpty(); }) > 0);
    QVERIFY(
        orShowLog(QTest::qWaitFor([] { return !customBindings().contains("quillpoint-escape"); }, 15000)));
    QTest::qWait(1000);
    QCOMPARE(requestsTo("/api/transcribe").size(), before);
    QVERIFY(editor->isActive());
}

void TestGnomeDesktop::diagnoseNamesTheMechanisms() {
    const QString report = commandOutput(qEnvironmentVariable("QUILLPOINT_BINARY"), {"--diagnose"});
    QVERIFY2(report.contains(
                 QRegularExpression("Global shortcuts.*GNOME custom key bindings.*Explain Ctrl\\+1 free")),
             qPrintable(report));
    QVERIFY2(report.contains(QRegularExpression("Clipboard.*GNOME passes it to Wayland windows")),
             qPrintable(report));
    QVERIFY2(!report.contains("only while a Quillpoint window has focus"), qPrintable(report));
}

void TestGnomeDesktop::bindingsGoAtQuitAndTheUsersStay() {
    QVERIFY(QProcess::execute(qEnvironmentVariable("QUILLPOINT_BINARY"), {"--quit"}) == 0);
    QVERIFY(app.waitForExit(15000));
    const QString left = customBindings();
    QVERIFY2(!left.contains("quillpoint"), qPrintable(left));
    QVERIFY2(left.contains("custom0"), qPrintable(left));
}

void TestGnomeDesktop::refusedKeyboardLeavesTheTranscriptOnTheClipboard() {
    // A new run asks again; this time the user cancels the dialog.
    AppProcess again;
    again.start({"QT_LOGGING_RULES=quillpoint.latency.debug=true"});
    QVERIFY2(again.waitForLine("AuthService: Using existing device token"),
             qPrintable(again.lines().join(QChar(10))));
    QVERIFY2(QTest::qWaitFor([] { return customBindings().contains("quillpoint-control-2"); }, 20000),
             qPrintable(again.lines().join(QChar(10))));
    QVERIFY(pressKeys("End"));
    const QString before = editor->text();
    QVERIFY(pressUntil(again, "ctrl+2", [this] { return recordings().size() == 1; }) > 0);
    QTest::qWait(1200);
    QProcess consent;
    consent.start(supportDir + "/answer-consent", {"--cancel", "--timeout", "30"});
    const qsizetype transcribed = requestsTo("/api/transcribe").size();
    QVERIFY(pressUntil(again, "ctrl+2", [this, transcribed] {
                return requestsTo("/api/transcribe").size() > transcribed;
            }) > 0);
    QCOMPARE(requestsTo("/api/transcribe").size(), transcribed + 1);
    QVERIFY2(consent.waitForFinished(40000) && consent.exitCode() == 0,
             qPrintable(QString::fromUtf8(consent.readAllStandardError())));
    const int bytes = requestsTo("/api/transcribe").constLast()["bodyLength"].toInt();
    const QString expected = QStringLiteral("Demo transcription of %1 bytes of audio.").arg(bytes);
    QVERIFY2(QTest::qWaitFor([&] { return clipboard() == expected; }, 10000), qPrintable(clipboard()));
    // The panel stays up with the message (its text is painted, out of AT-SPI's sight).
    QString panel;
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     return xdotool({"search", "--onlyvisible", "--pid", QString::number(again.pid()),
                                     "--name", "^Quillpoint$"},
                                    &panel);
                 },
                 15000),
             qPrintable(again.lines().join(QChar(10))));
    QCOMPARE(editor->text(), before);
    QVERIFY(QProcess::execute(qEnvironmentVariable("QUILLPOINT_BINARY"), {"--quit"}) == 0);
    QVERIFY(again.waitForExit(15000));
}

QTEST_MAIN(TestGnomeDesktop)
#include "tst_gnome_desktop.moc"
