#include "AppProcess.h"
#include "DesktopTools.h"
#include "TestHttpServer.h"

#include <QBuffer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quill::test;

namespace {

// Every format another program sees on the clipboard, with its bytes.
QHash<QString, QByteArray> clipboardSeenByOthers() {
    QProcess dump;
    dump.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), {"dump"});
    dump.waitForFinished(10000);
    QHash<QString, QByteArray> formats;
    for (const QByteArray& line : dump.readAllStandardOutput().split('\n')) {
        const auto fields = line.split('\t');
        if (fields.size() == 2)
            formats.insert(QString::fromUtf8(fields[0]), QByteArray::fromHex(fields[1]));
    }
    return formats;
}

} // namespace

// Dictation as a user sets it up in the Transcription tab: the real program on the test
// desktop, hold to talk on, French chosen, the clipboard kept; mousepad in front, speech in the
// microphone and a scripted backend on a loopback port.
class TestDictationDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void holdingTheShortcutDictatesInTheChosenLanguageAndKeepsTheClipboard();

private:
    QStringList recordings() const {
        return QDir(qEnvironmentVariable("XDG_RUNTIME_DIR")).entryList({"quill_recording_*"}, QDir::Files);
    }

    TestHttpServer server;
    std::unique_ptr<EditedDocument> document;
    std::unique_ptr<MicFeeder> microphone;
    AppProcess app;
};

void TestDictationDesktop::initTestCase() {
    server.answer("/api/models", ScriptedReply::status(404, "application/json").write("{}"));
    QVERIFY(!writeProgramSettings(server.baseUrl(), "transcriptionHoldToTalk=true\ntranscriptionLanguage=fr\n"
                                                    "transcriptionKeepClipboard=true\n")
                 .isEmpty());

    document = std::make_unique<EditedDocument>("Notes:");
    QVERIFY(!document->window().isEmpty());

    microphone = std::make_unique<MicFeeder>(speechPcm("Bonjour tout le monde, un deux trois."));

    app.start();
    QVERIFY2(app.waitForLine("AuthService: Auto-authenticated as "), qPrintable(app.lines().join('\n')));
    QVERIFY2(app.waitForLine("AppDelegate: Shortcuts registered"), qPrintable(app.lines().join(u'\n')));
}

void TestDictationDesktop::cleanupTestCase() {
    microphone.reset();
    document.reset();
}

void TestDictationDesktop::holdingTheShortcutDictatesInTheChosenLanguageAndKeepsTheClipboard() {
    // The user's clipboard: an image with its caption, from another program.
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.setPixel(3, 5, qRgb(250, 10, 20));
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    const QList<QPair<QString, QByteArray>> earlier{{"image/png", png}, {"text/plain", "A cyan tile"}};
    QTemporaryDir formatFiles;
    QStringList ownArguments{"own"};
    for (qsizetype i = 0; i < earlier.size(); ++i) {
        QFile file(formatFiles.filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(earlier.at(i).second);
        ownArguments << earlier.at(i).first + '=' + file.fileName();
    }
    QProcess owner;
    owner.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), ownArguments);
    QVERIFY(owner.waitForReadyRead(10000));
    QCOMPARE(owner.readLine().trimmed(), QByteArray("owned"));

    server.enqueue(
        ScriptedReply::status(200, "application/json").write(R"({"text":" Bonjour tout le monde."})"));
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+End"}));

    // Held for two seconds, with the keyboard repeating: one recording, stopped by the release.
    QVERIFY(xdotool({"keydown", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(recordings().size(), 1, 5000);
    QTest::qWait(2000);
    QCOMPARE(server.requests.size(), 0);
    QVERIFY(xdotool({"keyup", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(server.requests.size(), 1, 15000);
    const RecordedRequest& request = server.requests.constFirst();
    QCOMPARE(request.path, QByteArray("/api/transcribe?language=fr"));
    QVERIFY2(request.body.size() > 2000, qPrintable(QString::number(request.body.size())));
    QCOMPARE(recordings(), QStringList());

    // The transcript reaches the editor, and then the clipboard is the user's again, byte for
    // byte. (Reading the clipboard earlier would itself be a read of the transcript.)
    QDeadlineTimer deadline(10000);
    while (!document->savedText().endsWith("Bonjour tout le monde.") && !deadline.hasExpired()) {
        QTest::qWait(300);
        QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
        QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+s"}));
    }
    QCOMPARE(document->savedText(), QStringLiteral("Notes: Bonjour tout le monde."));
    QHash<QString, QByteArray> now;
    const auto differences = [&] {
        QString lines;
        for (const auto& [format, bytes] : earlier) {
            if (now.value(format) != bytes)
                lines += format + ": " + now.value(format).left(40).toHex() + '\n';
        }
        return lines;
    };
    QTRY_VERIFY2_WITH_TIMEOUT((now = clipboardSeenByOthers(), differences().isEmpty()),
                              qPrintable(differences()), 5000);
    // Nothing is sent again afterwards.
    QTest::qWait(500);
    QCOMPARE(server.requests.size(), 1);
    owner.terminate();
    owner.waitForFinished();
}

QTEST_MAIN(TestDictationDesktop)
#include "tst_dictation_desktop.moc"
