#include "history/HistoryStore.h"

#include <QProcess>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;

// A process killed with SIGKILL in the middle of its writes leaves a history that opens and
// holds every entry whose write had returned.
class TestHistoryKill : public QObject {
    Q_OBJECT
private slots:
    void everyCommittedEntrySurvivesKillNine();
};

void TestHistoryKill::everyCommittedEntrySurvivesKillNine() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Quillpoint/history.sqlite3"));
    QSet<qint64> committed;
    for (int round = 0; round < 5; ++round) {
        QProcess writer;
        writer.setProgram(QStringLiteral(HISTORY_WRITER));
        writer.setArguments({path});
        writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer.start();
        QVERIFY(writer.waitForStarted());
        // Kill after a different number of writes each round.
        const int before = int(committed.size());
        while (committed.size() < before + 40 + round * 37) {
            QVERIFY2(writer.state() == QProcess::Running || writer.bytesAvailable() > 0,
                     "the writer stopped by itself");
            writer.waitForReadyRead(5000);
            while (writer.canReadLine())
                committed.insert(writer.readLine().trimmed().toLongLong());
        }
        writer.kill();
        QVERIFY(writer.waitForFinished(5000));
        QCOMPARE(writer.exitStatus(), QProcess::CrashExit);
        while (writer.canReadLine())
            committed.insert(writer.readLine().trimmed().toLongLong());

        HistoryStore store(path);
        QVERIFY2(!store.error(), qPrintable(store.error().value_or(QString())));
        QSet<qint64> kept;
        for (const HistoryEntry& entry : store.find(QString()))
            kept.insert(entry.id);
        QVERIFY2(kept.contains(committed), qPrintable(QStringLiteral("round %1: %2 of %3 entries kept")
                                                          .arg(round)
                                                          .arg((kept & committed).size())
                                                          .arg(committed.size())));
        // At most one entry per kill was written but not yet reported.
        QVERIFY(kept.size() <= committed.size() + round + 1);
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
    db.setDatabaseName(path);
    QVERIFY(db.open());
    QSqlQuery query(db);
    QVERIFY(query.exec(QStringLiteral("PRAGMA integrity_check")) && query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("ok"));
    query = QSqlQuery();
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

QTEST_GUILESS_MAIN(TestHistoryKill)
#include "tst_historykill.moc"
