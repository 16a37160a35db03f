#include "platform/ClipboardKeeperFile.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;

namespace {

QStringList keeperFiles() {
    QString directory = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (directory.isEmpty())
        directory = QDir::tempPath();
    return QDir(directory).entryList({"quillpoint-clipboard-*"}, QDir::Files);
}

} // namespace

class TestClipboardKeeperFile : public QObject {
    Q_OBJECT
private slots:
    void takesEveryFormatWholeAndLeavesNoFile();
    void aDamagedFileGivesNothingAndIsGoneToo();
    void aKeeperThatDoesNotStartLeavesNoFile();

private:
    QTemporaryDir directory;
};

void TestClipboardKeeperFile::takesEveryFormatWholeAndLeavesNoFile() {
    QByteArray binary(70000, '\0');
    for (qsizetype i = 0; i < binary.size(); ++i)
        binary[i] = char(i * 31);
    const QList<ClipboardFormat> formats{{"text/plain;charset=utf-8", QString("ß ✓").toUtf8()},
                                         {"application/x-quill-test", binary}};
    const QString path = directory.filePath("whole");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out << formats;
    file.close();

    QCOMPARE(ClipboardKeeperFile::take(path), formats);
    QVERIFY(!QFile::exists(path));
}

void TestClipboardKeeperFile::aDamagedFileGivesNothingAndIsGoneToo() {
    QByteArray whole;
    QDataStream out(&whole, QIODevice::WriteOnly);
    out << QList<ClipboardFormat>{{"text/plain", "cut short"}};
    const QList<QByteArray> damaged{whole.left(whole.size() - 3), whole + "tail", QByteArray()};
    for (const QByteArray& bytes : damaged) {
        const QString path = directory.filePath("damaged");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QCOMPARE(ClipboardKeeperFile::take(path), std::nullopt);
        QVERIFY(!QFile::exists(path));
    }
    QCOMPARE(ClipboardKeeperFile::take(directory.filePath("missing")), std::nullopt);
}

void TestClipboardKeeperFile::aKeeperThatDoesNotStartLeavesNoFile() {
    const QStringList before = keeperFiles();
    const QString error = ClipboardKeeperFile::handOver(directory.filePath("no-such-keeper"),
                                                        {{"text/plain", "the user's words"}});
    QVERIFY(error.contains("no-such-keeper"));
    QCOMPARE(keeperFiles(), before);
}

QTEST_GUILESS_MAIN(TestClipboardKeeperFile)
#include "tst_clipboardkeeperfile.moc"
