#include "DesktopTools.h"
#include "platform/wayland/DataControlClipboard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <algorithm>
#include <memory>

using namespace quill;
using namespace quill::test;

// The data-control clipboard against real KWin, with wl-clipboard as the other client: neither
// side ever has the keyboard focus.
class TestDataControlClipboard : public QObject {
    Q_OBJECT
private slots:
    void init();
    void readsWhatAnotherClientCopied();
    void servesItsContentsToOtherClients();
    void keepsEveryFormatItRestores();
    void boundsReadsOfLargeContents();
    void clearEmptiesTheClipboard();
    void primarySelectionIsSharedAcrossClients();
    void whatWeHoldOutlivesUsUntilSomeoneCopies();

private:
    static bool wlCopy(const QByteArray& data, const QStringList& arguments = {});
    static QByteArray wlPaste(const QStringList& arguments);
    std::unique_ptr<DataControlClipboard> clipboard;
};

bool TestDataControlClipboard::wlCopy(const QByteArray& data, const QStringList& arguments) {
    QProcess copy;
    copy.start("wl-copy", arguments);
    copy.write(data);
    copy.closeWriteChannel();
    // wl-copy forks a server that keeps the selection and exits itself.
    return copy.waitForFinished(5000) && copy.exitCode() == 0;
}

QByteArray TestDataControlClipboard::wlPaste(const QStringList& arguments) {
    QProcess paste;
    paste.start("wl-paste", arguments);
    if (!paste.waitForFinished(5000))
        return "(wl-paste hung)";
    return paste.readAllStandardOutput();
}

void TestDataControlClipboard::init() {
    clipboard = DataControlClipboard::create();
    QVERIFY(clipboard);
}

void TestDataControlClipboard::readsWhatAnotherClientCopied() {
    QSignalSpy changed(clipboard.get(), &Clipboard::changed);
    QVERIFY(wlCopy("Grüße aus Wayland", {"--type", "text/plain;charset=utf-8"}));
    QTRY_VERIFY(changed.count() >= 1);
    QCOMPARE(clipboard->text(), QStringLiteral("Grüße aus Wayland"));
    const QList<ClipboardFormat> formats = clipboard->readAll(ClipboardReadLimits{}).formats;
    QVERIFY(formats.contains(ClipboardFormat("text/plain;charset=utf-8", "Grüße aus Wayland")));
    // Our own contents never count as read by another program.
    QSignalSpy read(clipboard.get(), &Clipboard::contentsRead);
    QTest::qWait(200);
    QCOMPARE(read.count(), 0);
}

void TestDataControlClipboard::servesItsContentsToOtherClients() {
    QSignalSpy read(clipboard.get(), &Clipboard::contentsRead);
    clipboard->setText(QStringLiteral("transcript ✓"));
    QCOMPARE(clipboard->text(), QStringLiteral("transcript ✓"));
    // Nobody reads it yet: neither KWin's XWayland bridge nor our own text() counts as a reader.
    QTest::qWait(300);
    QCOMPARE(read.count(), 0);
    QCOMPARE(QString::fromUtf8(wlPaste({"--no-newline"})), QStringLiteral("transcript ✓"));
    QTRY_VERIFY(read.count() >= 1);

    // Someone else copying takes the clipboard over from us.
    // wl-copy guesses an untyped copy's type through xdg-mime, which some desktops' helpers answer
    // with garbage: name it.
    QVERIFY(wlCopy("newer", {"--type", "text/plain;charset=utf-8"}));
    QTRY_COMPARE(clipboard->text(), QStringLiteral("newer"));
}

void TestDataControlClipboard::keepsEveryFormatItRestores() {
    QByteArray binary(3000, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 7);
    const QList<ClipboardFormat> formats = {{"text/plain;charset=utf-8", "saved text"},
                                            {"application/x-quill-test", binary}};
    clipboard->setFormats(formats);
    const QStringList offered = QString::fromUtf8(wlPaste({"--list-types"})).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(offered, QStringList({"text/plain;charset=utf-8", "application/x-quill-test"}));
    QCOMPARE(wlPaste({"--type", "application/x-quill-test"}), binary);

    // Read back through a second connection, as another instance would see it.
    auto other = DataControlClipboard::create();
    QVERIFY(other);
    QTRY_COMPARE(other->readAll(ClipboardReadLimits{}).formats, formats);
}

void TestDataControlClipboard::boundsReadsOfLargeContents() {
    const QByteArray big(qsizetype{200} * 1024, 'x');
    QVERIFY(wlCopy(big, {"--type", "application/x-big"}));
    QTRY_VERIFY(!clipboard->readAll(ClipboardReadLimits{}).formats.isEmpty());

    ClipboardReadLimits small;
    small.maxFormatBytes = qsizetype{64} * 1024;
    const ClipboardContents cut = clipboard->readAll(small);
    QCOMPARE(cut.formats, QList<ClipboardFormat>());
    QVERIFY(!cut.complete);
    ClipboardReadLimits enough;
    enough.maxFormatBytes = big.size();
    const ClipboardContents whole = clipboard->readAll(enough);
    QCOMPARE(whole.formats, QList<ClipboardFormat>({{"application/x-big", big}}));
    QVERIFY(whole.complete);
}

void TestDataControlClipboard::clearEmptiesTheClipboard() {
    clipboard->setText(QStringLiteral("gone soon"));
    clipboard->clear();
    QCOMPARE(clipboard->text(), std::nullopt);
    auto other = DataControlClipboard::create();
    QVERIFY(other);
    QTRY_COMPARE(other->readAll(ClipboardReadLimits{}).formats, QList<ClipboardFormat>());
    QCOMPARE(other->text(), std::nullopt);
}

void TestDataControlClipboard::primarySelectionIsSharedAcrossClients() {
    clipboard->setSelectionText(QStringLiteral("selected elsewhere"));
    QCOMPARE(clipboard->selectionText(), QStringLiteral("selected elsewhere"));
    auto other = DataControlClipboard::create();
    QVERIFY(other);
    QTRY_COMPARE(other->selectionText(), QStringLiteral("selected elsewhere"));
    // The primary selection is not the clipboard.
    QVERIFY(other->text() != QStringLiteral("selected elsewhere"));
}

// KWin, like every compositor, forgets a client's clipboard when the client goes.
void TestDataControlClipboard::whatWeHoldOutlivesUsUntilSomeoneCopies() {
    auto holder = DataControlClipboard::create(QStringLiteral(QUILL_WAYLAND_CLIPBOARD_KEEPER));
    QVERIFY(holder);
    QByteArray binary(qsizetype(300) * 1024, '\0');
    for (qsizetype i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 13);
    const QList<ClipboardFormat> formats{{"text/plain;charset=utf-8", QString("kept ✓").toUtf8()},
                                         {"application/x-quill-test", binary}};
    holder->setFormats(formats);
    QElapsedTimer elapsed;
    elapsed.start();
    holder->keepAfterExit();
    qInfo("the keeper took the clipboard over in %lld ms", qint64(elapsed.elapsed()));
    QCOMPARE(processesOf(QUILL_WAYLAND_CLIPBOARD_KEEPER, "WAYLAND_DISPLAY").size(), 1);
    // The keeper took the contents and left no copy of them behind.
    QCOMPARE(QDir(QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation))
                 .entryList({"quillpoint-clipboard-*"}, QDir::Files),
             QStringList());
    holder.reset();

    QTRY_COMPARE_WITH_TIMEOUT(clipboard->readAll(ClipboardReadLimits{}).formats, formats, 10000);
    // Several readers at once, none waiting for another.
    std::vector<std::unique_ptr<QProcess>> readers;
    for (int i = 0; i < 4; ++i) {
        readers.push_back(std::make_unique<QProcess>());
        readers.back()->start("wl-paste", {"--type", "application/x-quill-test"});
    }
    QTRY_VERIFY_WITH_TIMEOUT(
        std::all_of(readers.begin(), readers.end(),
                    [](const auto& reader) { return reader->state() == QProcess::NotRunning; }),
        10000);
    for (const auto& reader : readers)
        QCOMPARE(reader->readAllStandardOutput(), binary);

    // Someone copying ends the keeper; with nothing of ours held there is nothing to keep.
    QVERIFY(wlCopy("newer", {"--type", "text/plain;charset=utf-8"}));
    elapsed.start();
    QTRY_VERIFY_WITH_TIMEOUT(processesOf(QUILL_WAYLAND_CLIPBOARD_KEEPER, "WAYLAND_DISPLAY").isEmpty(), 10000);
    qInfo("the keeper ended %lld ms after another client copied", qint64(elapsed.elapsed()));
    QCOMPARE(clipboard->text(), QStringLiteral("newer"));
    auto idle = DataControlClipboard::create(QStringLiteral(QUILL_WAYLAND_CLIPBOARD_KEEPER));
    QVERIFY(idle);
    idle->keepAfterExit();
    idle->setText(QStringLiteral("dropped"));
    idle->clear();
    idle->keepAfterExit();
    QCOMPARE(processesOf(QUILL_WAYLAND_CLIPBOARD_KEEPER, "WAYLAND_DISPLAY").size(), 0);
}

QTEST_GUILESS_MAIN(TestDataControlClipboard)
#include "tst_datacontrolclipboard_desktop.moc"
