#include "DesktopTools.h"
#include "capture/TextCaptureService.h"
#include "platform/PlatformFactory.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
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
    void anOwnerThatNeverAnswersIsLeftAloneAfterABoundedWait();
    void aClipboardOverTheSizeCapIsNeverTaken();
    void aLargeClipboardSentInPiecesIsSavedWhole();

private:
    void selectFirstLine();
    // Starts the clipboard helper owning `formats` in `mode` ("own" or "hang").
    bool startOwner(QProcess& owner, const QString& mode, const QList<ClipboardFormat>& formats);
    QHash<QString, QByteArray> dumpClipboard();
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

bool TestTextCaptureDesktop::startOwner(QProcess& owner, const QString& mode,
                                        const QList<ClipboardFormat>& formats) {
    QStringList arguments{mode};
    for (int i = 0; i < formats.size(); ++i) {
        QFile file(dir.filePath(mode + QString::number(i)));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(formats.at(i).second) != formats.at(i).second.size())
            return false;
        arguments << formats.at(i).first + '=' + file.fileName();
    }
    owner.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), arguments);
    return owner.waitForReadyRead(10000) && owner.readLine().trimmed() == "owned";
}

// Read back by another program, through the X server, from this process.
QHash<QString, QByteArray> TestTextCaptureDesktop::dumpClipboard() {
    QProcess dump;
    dump.start(QStringLiteral(QUILL_CLIPBOARD_HELPER), {"dump"});
    if (!QTest::qWaitFor([&dump] { return dump.state() == QProcess::NotRunning; }, 60000))
        return {};
    QHash<QString, QByteArray> contents;
    for (const QByteArray& line : dump.readAllStandardOutput().split('\n')) {
        const auto fields = line.split('\t');
        if (fields.size() == 2)
            contents.insert(QString::fromUtf8(fields[0]), QByteArray::fromHex(fields[1]));
    }
    return contents;
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
    QProcess owner;
    QVERIFY(startOwner(owner, "own", before));

    selectFirstLine();
    auto capture = service();
    QCOMPARE(capture.selectedTextViaCopy(), std::optional<QString>(kFirstLine));
    owner.terminate();
    QVERIFY(owner.waitForFinished());

    const QHash<QString, QByteArray> after = dumpClipboard();
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
    QCOMPARE(desktop.activeWindowInfo->applicationNames(), (QStringList{"xterm", "XTerm"}));

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

void TestTextCaptureDesktop::anOwnerThatNeverAnswersIsLeftAloneAfterABoundedWait() {
    QProcess owner;
    QVERIFY(startOwner(owner, "hang", {{"text/plain", "never handed out"}}));
    selectFirstLine();
    // The news of the owner's arrival comes in first.
    QTest::qWait(300);

    int turnsWhileSaving = 0;
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, this, [&] { ++turnsWhileSaving; });
    ticks.start(10);
    QSignalSpy taken(QGuiApplication::clipboard(), &QClipboard::dataChanged);
    auto capture = service();
    // Copying would replace contents that could not be saved.
    QCOMPARE(capture.selectedTextViaCopy(), std::nullopt);
    QVERIFY2(turnsWhileSaving >= 5, qPrintable(QString::number(turnsWhileSaving)));
    QCOMPARE(taken.count(), 0);
    owner.kill();
    owner.waitForFinished();
}

void TestTextCaptureDesktop::aClipboardOverTheSizeCapIsNeverTaken() {
    QByteArray image(qsizetype(3) * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < image.size(); i += 4096)
        image[i] = static_cast<char>(i / 4096);
    QProcess owner;
    QVERIFY(startOwner(owner, "own", {{"image/png", image}, {"text/plain", "small text ✓"}}));
    selectFirstLine();
    TextCaptureService::Timing timing;
    timing.saveLimits.maxFormatBytes = qsizetype(1024) * 1024;
    TextCaptureService capture(*desktop.accessibilityReader, *desktop.keyEventPoster,
                               *desktop.activeWindowInfo, *desktop.clipboard, timing);
    QCOMPARE(capture.selectedTextViaCopy(), std::nullopt);

    const QHash<QString, QByteArray> after = dumpClipboard();
    QCOMPARE(after.value("text/plain"), QString("small text ✓").toUtf8());
    QVERIFY(after.value("image/png") == image);
    owner.terminate();
    QVERIFY(owner.waitForFinished());
}

// xclip sends anything over a few hundred kilobytes in pieces and announces no size.
void TestTextCaptureDesktop::aLargeClipboardSentInPiecesIsSavedWhole() {
    if (QStandardPaths::findExecutable(QStringLiteral("xclip")).isEmpty())
        QSKIP("xclip is not installed");
    QByteArray text;
    for (int line = 0; text.size() < qsizetype(3) * 1024 * 1024; ++line)
        text += "line " + QByteArray::number(line) + " of a long clipboard\n";
    QProcess xclip;
    xclip.setProcessChannelMode(QProcess::MergedChannels);
    xclip.start(QStringLiteral("xclip"), {"-selection", "clipboard", "-quiet", "-i"});
    QVERIFY(xclip.waitForStarted());
    xclip.write(text);
    xclip.closeWriteChannel();
    // It says so once it owns the clipboard.
    QVERIFY(xclip.waitForReadyRead(10000));

    selectFirstLine();
    auto capture = service();
    QCOMPARE(capture.selectedTextViaCopy(), std::optional<QString>(kFirstLine));
    QVERIFY(dumpClipboard().value("text/plain") == text);
    xclip.kill();
    xclip.waitForFinished();
}

QTEST_MAIN(TestTextCaptureDesktop)
#include "tst_textcapture_desktop.moc"
