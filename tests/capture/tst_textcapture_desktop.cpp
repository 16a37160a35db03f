#include "DesktopTools.h"
#include "capture/TextCaptureService.h"
#include "platform/PlatformFactory.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <unistd.h>

using namespace quill;
using namespace quill::test;

namespace {

const QString kFirstLine = QStringLiteral("Quillpoint reads this line, ünïcode ✓ included.");

} // namespace

// A real editor (mousepad, GTK 3) and a real terminal (xterm) on the test desktop.
class TestTextCaptureDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void readsTheEditorsSelectionThroughAccessibility();
    void readsTheSelectionByCopyAndRestoresTheClipboard();
    void pastesIntoTheEditor();
    void aCopyInATerminalNeverInterruptsItsCommand();

private:
    void selectFirstLine();
    TextCaptureService service();

    QTemporaryDir dir;
    QProcess editor;
    QString editorWindow;
    // The session's own accessibility bus, keyboard and clipboard.
    Platform desktop = platform::createPlatform(platform::detectSession());
};

void TestTextCaptureDesktop::initTestCase() {
    QVERIFY(dir.isValid());
    QFile file(dir.filePath("notes.txt"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write((kFirstLine + "\nA second line.\n").toUtf8());
    file.close();
    editor.start(QStringLiteral("mousepad"), {file.fileName()});
    QVERIFY(editor.waitForStarted());
    editorWindow = activateWindow(QStringLiteral("mousepad"));
    QVERIFY(!editorWindow.isEmpty());
}

void TestTextCaptureDesktop::cleanupTestCase() {
    editor.kill();
    editor.waitForFinished();
}

void TestTextCaptureDesktop::selectFirstLine() {
    QVERIFY(xdotool({"windowactivate", "--sync", editorWindow}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+Home", "shift+End"}));
}

TextCaptureService TestTextCaptureDesktop::service() {
    return TextCaptureService(*desktop.accessibilityReader, *desktop.keyEventPoster,
                              *desktop.activeWindowInfo, *desktop.clipboard);
}

void TestTextCaptureDesktop::readsTheEditorsSelectionThroughAccessibility() {
    selectFirstLine();
    auto capture = service();
    QTRY_COMPARE_WITH_TIMEOUT(capture.selectedTextViaAccessibility(), std::optional<QString>(kFirstLine),
                              10000);
    QCOMPARE(capture.selectedTextViaAccessibility(static_cast<qint32>(editor.processId())),
             std::optional<QString>(kFirstLine));
    QCOMPARE(capture.selectedTextViaAccessibility(static_cast<qint32>(getpid())), std::nullopt);
}

void TestTextCaptureDesktop::readsTheSelectionByCopyAndRestoresTheClipboard() {
    QImage image(7, 5, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 90));
    QByteArray png;
    QBuffer buffer(&png);
    QVERIFY(buffer.open(QIODevice::WriteOnly) && image.save(&buffer, "PNG"));
    const QList<ClipboardFormat> before = {
        {"image/png", png},
        {"text/plain", QString("earlier clipboard ✓").toUtf8()},
        {"text/html", "<p>earlier</p>"},
    };
    QStringList ownArguments{"own"};
    for (int i = 0; i < before.size(); ++i) {
        QFile file(dir.filePath(QString::number(i)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before.at(i).second);
        ownArguments << before.at(i).first + '=' + file.fileName();
    }
    QProcess owner;
    owner.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), ownArguments);
    QVERIFY(owner.waitForReadyRead(10000));
    QCOMPARE(owner.readLine().trimmed(), QByteArray("owned"));

    selectFirstLine();
    auto capture = service();
    QCOMPARE(capture.selectedTextViaCopy(), std::optional<QString>(kFirstLine));
    owner.terminate();
    QVERIFY(owner.waitForFinished());

    // Read back by another program, through the X server, from this process.
    QProcess dump;
    dump.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), {"dump"});
    while (dump.state() != QProcess::NotRunning)
        QTest::qWait(20);
    QHash<QString, QByteArray> after;
    for (const QByteArray& line : dump.readAllStandardOutput().split('\n')) {
        const auto fields = line.split('\t');
        if (fields.size() == 2)
            after.insert(QString::fromUtf8(fields[0]), QByteArray::fromHex(fields[1]));
    }
    for (const auto& [format, bytes] : before)
        QVERIFY2(after.value(format) == bytes, qPrintable(format));
}

void TestTextCaptureDesktop::pastesIntoTheEditor() {
    const QString pasted = QStringLiteral("Pasted by Quillpoint ✓");
    QVERIFY(xdotool({"windowactivate", "--sync", editorWindow}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+End"}));
    auto capture = service();
    capture.pasteText(pasted);
    QCOMPARE(QGuiApplication::clipboard()->text(), pasted);
    // The editor asks this process for the text, so wait with the event loop running until
    // its title marks the document as changed.
    QString title;
    QTRY_VERIFY_WITH_TIMEOUT(xdotool({"getwindowname", editorWindow}, &title) && title.startsWith('*'),
                             10000);
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QTRY_COMPARE_WITH_TIMEOUT(capture.selectedTextViaAccessibility(),
                              std::optional<QString>(kFirstLine + "\nA second line.\n" + pasted), 5000);
}

void TestTextCaptureDesktop::aCopyInATerminalNeverInterruptsItsCommand() {
    QProcess terminal;
    terminal.start(QStringLiteral("xterm"), {"-e", "sleep", "300"});
    QVERIFY(terminal.waitForStarted());
    QVERIFY(!activateWindow(QStringLiteral("xterm")).isEmpty());
    QCOMPARE(desktop.activeWindowInfo->windowClass(), (QStringList{"xterm", "XTerm"}));

    auto capture = service();
    capture.selectedTextViaCopy();
    capture.pasteText(QStringLiteral("not a command"));
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("not a command"));
    // xterm leaves as soon as its command ends.
    QVERIFY(!terminal.waitForFinished(1000));
    QCOMPARE(terminal.state(), QProcess::Running);
    terminal.kill();
    terminal.waitForFinished();
}

QTEST_MAIN(TestTextCaptureDesktop)
#include "tst_textcapture_desktop.moc"
