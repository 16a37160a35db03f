#include "AppProcess.h"
#include "DesktopTools.h"
#include "TestBackend.h"

#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quill::test;

// The real program on the test desktop, with mousepad in front, the reference backend on a
// loopback port and speech playing into the microphone: what a user does, key for key.
class TestEndToEndDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void explainSendsTheSelectionAndShowsThePanel();
    void transcriptionIsPastedIntoTheEditor();
    void escapeDiscardsARecording();

private:
    QList<QJsonObject> requestsTo(const QString& path) const;
    QStringList recordings() const;

    TestBackend backend;
    std::unique_ptr<EditedDocument> document;
    std::unique_ptr<MicFeeder> microphone;
    AppProcess app;
    QString token;
};

void TestEndToEndDesktop::initTestCase() {
    QVERIFY(backend.start());
    QVERIFY(!writeProgramSettings(backend.baseUrl()).isEmpty());

    document = std::make_unique<EditedDocument>("Photosynthesis turns light into chemical energy.");
    QVERIFY(!document->window().isEmpty());

    microphone = std::make_unique<MicFeeder>(speechPcm("Please write this down, one two three."));

    app.start();
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as "), qPrintable(app.lines().join('\n')));
    const QString line = app.lines().filter("Auto-authenticated as ").constFirst();
    token = line.mid(line.indexOf(" as ") + 4);
    QVERIFY2(app.waitForLine("AppDelegate: Shortcuts registered"), qPrintable(app.lines().join(u'\n')));
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
}

void TestEndToEndDesktop::cleanupTestCase() {
    microphone.reset();
    document.reset();
}

QList<QJsonObject> TestEndToEndDesktop::requestsTo(const QString& path) const {
    QList<QJsonObject> matching;
    for (const QJsonObject& request : backend.requests()) {
        if (request["path"].toString() == path)
            matching << request;
    }
    return matching;
}

// The test desktop has its own runtime directory, where the program keeps its recordings.
QStringList TestEndToEndDesktop::recordings() const {
    return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).entryList({"quill_recording_*"}, QDir::Files);
}

void TestEndToEndDesktop::explainSendsTheSelectionAndShowsThePanel() {
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QVERIFY(xdotool({"key", "ctrl+1"}));
    QTRY_VERIFY2_WITH_TIMEOUT(requestsTo("/api/explain").size() == 1, qPrintable(app.lines().join(u'\n')),
                              15000);
    const QJsonObject request = requestsTo("/api/explain").constFirst();
    QCOMPARE(request["authorization"].toString(), "Bearer " + token);
    const QJsonObject body = request["json"].toObject();
    QCOMPARE(body["text"].toString(), QStringLiteral("Photosynthesis turns light into chemical energy."));
    QCOMPARE(body["model"].toString(), QStringLiteral("gpt-5.2"));
    QCOMPARE(body["detailed"].toBool(), false);

    QString panels;
    QTRY_VERIFY_WITH_TIMEOUT(
        xdotool({"search", "--onlyvisible", "--pid", QString::number(app.pid()), "--name", ".*"}, &panels),
        5000);
    QString active;
    QVERIFY(xdotool({"getactivewindow"}, &active));
    QCOMPARE(active, document->window());
    // The grabbed press never reached the editor: its text is unchanged.
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+s"}));
    QTRY_COMPARE(document->savedText(), QStringLiteral("Photosynthesis turns light into chemical energy."));
}

void TestEndToEndDesktop::transcriptionIsPastedIntoTheEditor() {
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+End"}));
    QVERIFY(xdotool({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings().size(), 1, 5000);
    QTest::qWait(2000);
    QVERIFY(xdotool({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(requestsTo("/api/transcribe").size(), 1, 15000);
    const QJsonObject request = requestsTo("/api/transcribe").constFirst();
    QCOMPARE(request["authorization"].toString(), "Bearer " + token);
    QCOMPARE(request["contentType"].toString(), QStringLiteral("audio/mp4"));
    const int bytes = request["bodyLength"].toInt();
    QVERIFY2(bytes > 2000, qPrintable(QString::number(bytes)));
    QCOMPARE(recordings(), QStringList());

    const QString expected = QStringLiteral("Demo transcription of %1 bytes of audio.").arg(bytes);
    // The program's paste keystrokes have no end the test can see; ours must not fall among them.
    QTest::qWait(1000);
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+s"}));
    QTRY_VERIFY_WITH_TIMEOUT(document->savedText().endsWith(expected), 5000);
}

void TestEndToEndDesktop::escapeDiscardsARecording() {
    const qsizetype before = requestsTo("/api/transcribe").size();
    QVERIFY(xdotool({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings().size(), 1, 5000);
    QTest::qWait(800);
    QVERIFY(xdotool({"key", "Escape"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings(), QStringList(), 5000);
    QTest::qWait(1000);
    QCOMPARE(requestsTo("/api/transcribe").size(), before);
}

QTEST_MAIN(TestEndToEndDesktop)
#include "tst_endtoend_desktop.moc"
