#include "AppProcess.h"
#include "history/HistoryStore.h"

#include <QProcess>
#include <QTest>

using namespace quill;
using namespace quill::test;

// The History window of the real program, opened with --history and read over the
// accessibility bus the way a screen reader reads it.
class TestHistoryDesktop : public QObject {
    Q_OBJECT
private slots:
    void historyWindowListsAnExplanationAndATranscript();
};

void TestHistoryDesktop::historyWindowListsAnExplanationAndATranscript() {
    {
        // The desktop's own data folder, which the program uses too.
        HistoryStore store(HistoryStore::defaultPath());
        QVERIFY2(!store.error(), qPrintable(store.error().value_or(QString())));
        HistoryEntry explanation;
        explanation.application = QStringLiteral("Mousepad");
        explanation.input = QStringLiteral("photosynthesis");
        explanation.output = QStringLiteral("Plants turn light into sugar.");
        QVERIFY(store.add(explanation, {30, 1000}));
        HistoryEntry transcript;
        transcript.kind = HistoryKind::transcript;
        transcript.application = QStringLiteral("XTerm");
        transcript.seconds = 3;
        transcript.output = QStringLiteral("Meet me at noon");
        transcript.pasted = false;
        QVERIFY(store.add(transcript, {30, 1000}));
    }

    AppProcess app;
    app.start({}, {QStringLiteral("--history")});
    QProcess reader;
    reader.start(QStringLiteral(HISTORY_ATSPI_NAMES), {QString::number(app.pid())});
    QVERIFY(reader.waitForFinished(20000));
    const QStringList names =
        QString::fromUtf8(reader.readAllStandardOutput()).split(QChar(0), Qt::SkipEmptyParts);
    QCOMPARE(reader.exitCode(), 0);
    QCOMPARE(names.size(), 2);
    QVERIFY2(names[0].startsWith(QStringLiteral("Transcript (3 s) \u00b7 XTerm \u00b7 ")),
             qPrintable(names[0]));
    QVERIFY2(names[0].contains(QStringLiteral("Not pasted")), qPrintable(names[0]));
    QVERIFY2(names[0].endsWith(QStringLiteral("\nMeet me at noon")), qPrintable(names[0]));
    QVERIFY2(names[1].startsWith(QStringLiteral("Explanation \u00b7 Mousepad \u00b7 ")),
             qPrintable(names[1]));
    QVERIFY2(names[1].endsWith(QStringLiteral("\nPlants turn light into sugar.")), qPrintable(names[1]));
}

QTEST_GUILESS_MAIN(TestHistoryDesktop)
#include "tst_history_desktop.moc"
