#include "platform/x11/X11Clipboard.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTest>

using namespace quill;

namespace {

// Keeper processes on this test's display.
QList<int> keepers() {
    QList<int> pids;
    const QByteArray display = "DISPLAY=" + qgetenv("DISPLAY");
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = entry.toInt(&number);
        QFile command(QStringLiteral("/proc/%1/cmdline").arg(entry));
        QFile environment(QStringLiteral("/proc/%1/environ").arg(entry));
        if (!number || !command.open(QIODevice::ReadOnly) || !environment.open(QIODevice::ReadOnly))
            continue;
        if (command.readAll().split('\0').value(0) == QUILL_CLIPBOARD_KEEPER &&
            environment.readAll().split('\0').contains(display))
            pids << pid;
    }
    return pids;
}

} // namespace

// The test desktop runs no clipboard manager, as GNOME by default.
class TestX11ClipboardDesktop : public QObject {
    Q_OBJECT
private slots:
    void whatWeHoldOutlivesUsUntilSomeoneCopies();
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
    QCOMPARE(keepers().size(), 1);
    const ClipboardContents kept = clipboard.readAll(ClipboardReadLimits{});
    QVERIFY(kept.complete);
    for (const ClipboardFormat& format : formats)
        QVERIFY2(kept.formats.contains(format), qPrintable(format.first));

    // Someone copying ends the keeper; with nothing of ours held there is nothing to keep.
    clipboard.setText(QStringLiteral("newer"));
    QTRY_VERIFY_WITH_TIMEOUT(keepers().isEmpty(), 10000);
    clipboard.clear();
    clipboard.keepAfterExit();
    QCOMPARE(keepers().size(), 0);
}

QTEST_MAIN(TestX11ClipboardDesktop)
#include "tst_x11clipboard_desktop.moc"
