#include "DesktopTools.h"
#include "platform/x11/X11Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>

using namespace quill;
using namespace quill::test;

// The test desktop runs no clipboard manager, as GNOME by default.
class TestX11ClipboardDesktop : public QObject {
    Q_OBJECT
private slots:
    void whatWeHoldOutlivesUsUntilSomeoneCopies();
    void onlyAnotherProgramsReadIsAnnounced();
};

void TestX11ClipboardDesktop::whatWeHoldOutlivesUsUntilSomeoneCopies() {
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    QVERIFY(x11);
    X11Clipboard clipboard(x11->connection(), QStringLiteral(QUILL_CLIPBOARD_KEEPER));
    QByteArray binary(qsizetype(300) * 1024, '\0');
    for (qsizetype i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 13);
    const QList<ClipboardFormat> formats{{"text/plain", QString("kept ✓").toUtf8()},
                                         {"application/x-quill-test", binary}};
    clipboard.setFormats(formats);
    QVERIFY(QGuiApplication::clipboard()->ownsClipboard());

    clipboard.keepAfterExit();
    QVERIFY(!QGuiApplication::clipboard()->ownsClipboard());
    QCOMPARE(processesOf(QUILL_CLIPBOARD_KEEPER, "DISPLAY").size(), 1);
    const ClipboardContents kept = clipboard.readAll(ClipboardReadLimits{});
    QVERIFY(kept.complete);
    for (const ClipboardFormat& format : formats)
        QVERIFY2(kept.formats.contains(format), qPrintable(format.first));

    // Someone copying ends the keeper; with nothing of ours held there is nothing to keep.
    clipboard.setText(QStringLiteral("newer"));
    QTRY_VERIFY_WITH_TIMEOUT(processesOf(QUILL_CLIPBOARD_KEEPER, "DISPLAY").isEmpty(), 10000);
    clipboard.clear();
    clipboard.keepAfterExit();
    QCOMPARE(processesOf(QUILL_CLIPBOARD_KEEPER, "DISPLAY").size(), 0);
}

// GNOME's compositor reads the text of every new content at once, to keep it should its owner
// go; a kept clipboard is given back after the paste's read, which that read must not stand for.
void TestX11ClipboardDesktop::onlyAnotherProgramsReadIsAnnounced() {
    const bool gnome = qgetenv("QUILL_TEST_SESSION") == "gnome";
    const auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    QVERIFY(x11);
    X11Clipboard clipboard(x11->connection(), QStringLiteral(QUILL_CLIPBOARD_KEEPER), gnome ? 1 : 0);
    int reads = 0;
    connect(&clipboard, &Clipboard::contentsRead, this, [&reads] { ++reads; });
    for (const QString& text : {QStringLiteral("pasted ✓"), QStringLiteral("pasted again")}) {
        clipboard.clear();
        clipboard.setText(text);
        QTest::qWait(1000);
        QCOMPARE(reads, 0);
        QProcess paste;
        paste.start("xclip", {"-o", "-selection", "clipboard"});
        QVERIFY(QTest::qWaitFor([&] { return paste.state() == QProcess::NotRunning; }, 10000));
        QCOMPARE(QString::fromUtf8(paste.readAllStandardOutput()), text);
        QVERIFY(reads > 0);
        reads = 0;
    }
    clipboard.clear();
}

QTEST_MAIN(TestX11ClipboardDesktop)
#include "tst_x11clipboard_desktop.moc"
