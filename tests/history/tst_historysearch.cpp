#include "history/HistorySearch.h"
#include "history/HistoryStore.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;

namespace {

constexpr HistoryRetention keepAll{3650, 100'000};

HistoryEntry result(const QString& output) {
    HistoryEntry entry;
    entry.output = output;
    return entry;
}

} // namespace

class TestHistorySearch : public QObject {
    Q_OBJECT
private slots:
    void onlyTheLatestRequestIsAnswered();
    void seesWhatTheStoreWroteSinceTheLastSearch();
    void endsWithASearchStillDue();
};

void TestHistorySearch::onlyTheLatestRequestIsAnswered() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath("history.sqlite3"));
    const qint64 apple = *store.add(result("apple pie"), keepAll);
    const qint64 pear = *store.add(result("pear tart"), keepAll);
    store.add(result("plum cake"), keepAll);
    HistorySearch search(store.path());
    QSignalSpy found(&search, &HistorySearch::found);

    search.request("apple");
    search.request("pear");
    QTRY_COMPARE(found.count(), 1);
    QCOMPARE(found.at(0).at(0).value<QList<qint64>>(), QList<qint64>({pear}));

    // Answers come in order, so one due for the cancelled request would arrive before this one.
    search.request("pie");
    search.cancel();
    search.request("app");
    QTRY_COMPARE(found.count(), 2);
    QCOMPARE(found.at(1).at(0).value<QList<qint64>>(), QList<qint64>({apple}));
}

void TestHistorySearch::seesWhatTheStoreWroteSinceTheLastSearch() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath("history.sqlite3"));
    const qint64 first = *store.add(result("first answer"), keepAll);
    HistorySearch search(store.path());
    QSignalSpy found(&search, &HistorySearch::found);
    search.request("ANSWER");
    QTRY_COMPARE(found.count(), 1);
    QCOMPARE(found.at(0).at(0).value<QList<qint64>>(), QList<qint64>({first}));

    const qint64 second = *store.add(result("second answer"), keepAll);
    QVERIFY(store.remove(first));
    search.request("answer");
    QTRY_COMPARE(found.count(), 2);
    QCOMPARE(found.at(1).at(0).value<QList<qint64>>(), QList<qint64>({second}));
}

void TestHistorySearch::endsWithASearchStillDue() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath("history.sqlite3"));
    for (int i = 0; i < 200; ++i)
        store.add(result(QString("entry %1 ").arg(i).repeated(200)), keepAll);
    auto search = std::make_unique<HistorySearch>(store.path());
    search->request("e");
    search.reset();
    QCOMPARE(store.count(), 200);
}

QTEST_GUILESS_MAIN(TestHistorySearch)
#include "tst_historysearch.moc"
