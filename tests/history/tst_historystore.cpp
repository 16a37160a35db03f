#include "FakeCapture.h"
#include "history/HistoryRecorder.h"
#include "history/HistorySettings.h"
#include "history/HistoryStore.h"
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quill;
using namespace quill::test;

namespace {

HistoryEntry explanation(const QString& input, const QString& output, const QDateTime& time = {}) {
    HistoryEntry entry;
    entry.kind = HistoryKind::explanation;
    entry.application = QStringLiteral("Mousepad");
    entry.input = input;
    entry.output = output;
    entry.time = time;
    return entry;
}

QStringList outputs(const QList<HistoryEntry>& entries) {
    QStringList texts;
    for (const HistoryEntry& entry : entries)
        texts.append(entry.output);
    return texts;
}

// Owner, group and others; Qt's user bits are the caller's own access.
constexpr QFileDevice::Permissions modeBits(0x7077);

constexpr HistoryRetention keepAll{HistorySettings::maximumDays, HistorySettings::maximumEntries};

} // namespace

class TestHistoryStore : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void entriesComeBackNewestFirstAndWhole();
    void retentionKeepsTheLastEntriesAndDays();
    void searchIgnoresCaseOverInputAndOutput();
    void searchTakesEveryCharacterLiterally();
    void deleteAndClearRemoveEntries();
    void theIndexFollowsDeletesRetentionAndClear();
    void anOlderFileIsUpgradedWithEveryEntrySearchable();
    void anUpgradeThatFailsLeavesTheFileAsItWas();
    void aFileOfANewerVersionIsLeftAlone();
    void filesAreOwnerOnlyAndInWriteAheadLogMode();
    void looserFilesFromBeforeAreTightened();
    void aFileThatIsNoDatabaseIsReportedAndKept();
    void settingsDefaultAndStayWithinBounds();
    void recorderWritesWhileOnAndMarksPastedTranscripts();

private:
    // Opens the file on its own connection, as another program would, and runs `work` with it.
    template <typename Work> void withDatabase(Work work) const;
    // A file as the version before the search index wrote it, with `entries` entries.
    void writeFileWithoutIndex(int entries) const;
    QString path() const { return folder() + QStringLiteral("/history.sqlite3"); }
    QString folder() const { return m_dir->filePath(QStringLiteral("data/Quillpoint")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

namespace {

int userVersion(QSqlDatabase& db) {
    QSqlQuery query(db);
    return query.exec(QStringLiteral("PRAGMA user_version")) && query.next() ? query.value(0).toInt() : -1;
}

} // namespace

template <typename Work> void TestHistoryStore::withDatabase(Work work) const {
    const QString name = QStringLiteral("outside");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path());
        QVERIFY(db.open());
        work(db);
    }
    QSqlDatabase::removeDatabase(name);
}

void TestHistoryStore::writeFileWithoutIndex(int entries) const {
    QVERIFY(QDir().mkpath(folder()));
    withDatabase([entries](QSqlDatabase& db) {
        QSqlQuery query(db);
        QVERIFY(query.exec("PRAGMA journal_mode=WAL"));
        QVERIFY(query.exec("CREATE TABLE entries (id INTEGER PRIMARY KEY AUTOINCREMENT,"
                           "created_at INTEGER NOT NULL, kind TEXT NOT NULL,"
                           "application TEXT NOT NULL DEFAULT '', action TEXT NOT NULL DEFAULT '',"
                           "seconds REAL, pasted INTEGER, input_preview TEXT NOT NULL DEFAULT '',"
                           "output_preview TEXT NOT NULL DEFAULT '', input TEXT NOT NULL DEFAULT '',"
                           "output TEXT NOT NULL, search_text TEXT NOT NULL)"));
        QVERIFY(query.exec("CREATE INDEX entries_created_at ON entries(created_at)"));
        QVERIFY(db.transaction());
        query.prepare("INSERT INTO entries (created_at, kind, input_preview, output_preview, input, output, "
                      "search_text) VALUES (?, 'explanation', ?, ?, ?, ?, ?)");
        for (int i = 1; i <= entries; ++i) {
            const QString input = QStringLiteral("Selection %1 of the Straße").arg(i);
            const QString output = QStringLiteral("Answer number %1").arg(i);
            query.addBindValue(QDateTime::currentMSecsSinceEpoch());
            query.addBindValue(input);
            query.addBindValue(output);
            query.addBindValue(input);
            query.addBindValue(output);
            query.addBindValue((input + u'\n' + output).toCaseFolded().replace(u'\u00df', "ss"));
            QVERIFY(query.exec());
        }
        QVERIFY(db.commit());
    });
}

void TestHistoryStore::entriesComeBackNewestFirstAndWhole() {
    HistoryStore store(path());
    QVERIFY2(!store.error(), qPrintable(store.error().value_or(QString())));
    QSignalSpy changed(&store, &HistoryStore::changed);
    const QString longOutput(5000, u'x');
    const std::optional<qint64> first =
        store.add(explanation(QStringLiteral("ephemeral"), longOutput), keepAll);
    HistoryEntry transcript;
    transcript.kind = HistoryKind::transcript;
    transcript.seconds = 4.5;
    transcript.output = QStringLiteral("Hello there");
    transcript.pasted = false;
    const std::optional<qint64> second = store.add(transcript, keepAll);
    QVERIFY(first && second && *second > *first);
    QCOMPARE(changed.count(), 2);

    const QList<HistoryEntry> listed = store.find(QString());
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed[0].kind, HistoryKind::transcript);
    QCOMPARE(listed[0].pasted, std::optional<bool>(false));
    QCOMPARE(listed[0].seconds, 4.5);
    QCOMPARE(listed[1].output.size(), HistoryStore::previewLength);
    QCOMPARE(listed[1].pasted, std::nullopt);

    const std::optional<HistoryEntry> whole = store.entry(*first);
    QVERIFY(whole);
    QCOMPARE(whole->output, longOutput);
    QCOMPARE(whole->input, QStringLiteral("ephemeral"));
    QCOMPARE(whole->application, QStringLiteral("Mousepad"));
    QVERIFY(qAbs(whole->time.secsTo(QDateTime::currentDateTimeUtc())) < 60);

    QVERIFY(store.setPasted(*second, true));
    QCOMPARE(store.entry(*second)->pasted, std::optional<bool>(true));
}

void TestHistoryStore::retentionKeepsTheLastEntriesAndDays() {
    HistoryStore store(path());
    const QDateTime now = QDateTime::currentDateTimeUtc();
    store.add(explanation("a", "forty days old", now.addDays(-40)), keepAll);
    store.add(explanation("b", "ten days old", now.addDays(-10)), keepAll);
    QCOMPARE(store.count(), 2);

    store.add(explanation("c", "new"), {30, 1000});
    QCOMPARE(outputs(store.find(QString())), QStringList({"new", "ten days old"}));

    for (int i = 0; i < 5; ++i)
        store.add(explanation("d", QString::number(i)), {30, 3});
    QCOMPARE(outputs(store.find(QString())), QStringList({"4", "3", "2"}));
}

void TestHistoryStore::searchIgnoresCaseOverInputAndOutput() {
    HistoryStore store(path());
    store.add(explanation(QStringLiteral("Die GRÖSSE der Straße"), QStringLiteral("about size")), keepAll);
    store.add(explanation(QStringLiteral("photosynthesis"), QStringLiteral("Plants turn Light into sugar")),
              keepAll);
    store.add(explanation(QStringLiteral("100% sure_thing"), QStringLiteral("wildcards")), keepAll);

    QCOMPARE(outputs(store.find(QStringLiteral("light"))), QStringList({"Plants turn Light into sugar"}));
    QCOMPARE(outputs(store.find(QStringLiteral("PHOTO"))), QStringList({"Plants turn Light into sugar"}));
    QCOMPARE(outputs(store.find(QStringLiteral("größe"))), QStringList({"about size"}));
    QCOMPARE(outputs(store.find(QStringLiteral("strasse"))), QStringList({"about size"}));
    // Typed characters are text, not patterns.
    QCOMPARE(outputs(store.find(QStringLiteral("0% s"))), QStringList({"wildcards"}));
    QCOMPARE(store.find(QStringLiteral("%")).size(), 1);
    QCOMPARE(store.find(QStringLiteral("_")).size(), 1);
    QCOMPARE(store.find(QStringLiteral("'; DROP TABLE entries; --")).size(), 0);
    QCOMPARE(store.count(), 3);
}

void TestHistoryStore::searchTakesEveryCharacterLiterally() {
    HistoryStore store(path());
    store.add(explanation(QStringLiteral("say \"hi\" * twice"), QStringLiteral("quotes")), keepAll);
    store.add(
        explanation(QStringLiteral("light AND NEAR(a b) search_text: x^y"), QStringLiteral("operators")),
        keepAll);
    store.add(explanation(QStringLiteral("abcXbcd"), QStringLiteral("Ελληνικά 😀 emoji")), keepAll);
    store.add(explanation(QString(), QStringLiteral("ok")), keepAll);

    // What the index would read as its own syntax is text to look for.
    QCOMPARE(outputs(store.find(QStringLiteral("\"hi\""))), QStringList({"quotes"}));
    QCOMPARE(outputs(store.find(QStringLiteral("\" * t"))), QStringList({"quotes"}));
    QCOMPARE(outputs(store.find(QStringLiteral("*"))), QStringList({"quotes"}));
    QCOMPARE(outputs(store.find(QStringLiteral("\""))), QStringList({"quotes"}));
    QCOMPARE(outputs(store.find(QStringLiteral("t AND NEAR(a"))), QStringList({"operators"}));
    QCOMPARE(outputs(store.find(QStringLiteral("search_text:"))), QStringList({"operators"}));
    QCOMPARE(outputs(store.find(QStringLiteral("x^y"))), QStringList({"operators"}));
    QVERIFY(store.find(QStringLiteral("light NEAR")).isEmpty());
    QVERIFY(store.find(QStringLiteral("\"\"")).isEmpty());
    // The text as written, not its pieces: "abcd" is nowhere, though "abc" and "bcd" are.
    QVERIFY(store.find(QStringLiteral("abcd")).isEmpty());
    QCOMPARE(outputs(store.find(QStringLiteral("XBC"))), QStringList({"Ελληνικά 😀 emoji"}));

    // Shorter than the index answers, in characters rather than UTF-16 units.
    QCOMPARE(outputs(store.find(QStringLiteral("Ok"))), QStringList({"ok"}));
    QCOMPARE(outputs(store.find(QStringLiteral("😀"))), QStringList({"Ελληνικά 😀 emoji"}));
    QCOMPARE(outputs(store.find(QStringLiteral(" 😀"))), QStringList({"Ελληνικά 😀 emoji"}));
    QCOMPARE(outputs(store.find(QStringLiteral("😀 E"))), QStringList({"Ελληνικά 😀 emoji"}));
    QCOMPARE(outputs(store.find(QStringLiteral("ΕΛΛΗΝ"))), QStringList({"Ελληνικά 😀 emoji"}));
    QCOMPARE(store.find(QStringLiteral("x")).size(), 2);
}

void TestHistoryStore::deleteAndClearRemoveEntries() {
    HistoryStore store(path());
    const std::optional<qint64> first = store.add(explanation("one", "first"), keepAll);
    store.add(explanation("two", "second"), keepAll);
    QVERIFY(store.remove(*first));
    QCOMPARE(outputs(store.find(QString())), QStringList({"second"}));
    QCOMPARE(store.entry(*first), std::nullopt);

    QVERIFY(store.clear());
    QCOMPARE(store.count(), 0);
    // Ids are never handed out twice, so a window still showing a deleted entry cannot reach a new one.
    QVERIFY(*store.add(explanation("three", "third"), keepAll) > *first + 1);
}

void TestHistoryStore::theIndexFollowsDeletesRetentionAndClear() {
    // Ids rather than entries: an index that still listed a deleted entry would show here.
    HistoryStore store(path());
    const qint64 first = store.add(explanation("needle one", "first"), keepAll).value_or(0);
    store.add(explanation("needle two", "second"), keepAll);
    store.add(explanation("needle three", "third"), keepAll);
    QVERIFY(store.remove(first));
    QVERIFY(store.setPasted(first + 1, true));
    QCOMPARE(store.findIds("needle"), QList<qint64>({first + 2, first + 1}));

    store.add(explanation("needle four", "fourth"), {30, 2});
    QCOMPARE(store.findIds("needle"), QList<qint64>({first + 3, first + 2}));
    QCOMPARE(store.findIds("needle t"), QList<qint64>({first + 2}));

    QVERIFY(store.clear());
    QVERIFY(store.findIds("needle").isEmpty());
    const qint64 again = store.add(explanation("needle again", "after clearing"), keepAll).value_or(0);
    QCOMPARE(store.findIds("needle"), QList<qint64>({again}));
    QVERIFY(store.remove(again));
    QVERIFY(store.findIds("needle").isEmpty());
}

void TestHistoryStore::anOlderFileIsUpgradedWithEveryEntrySearchable() {
    writeFileWithoutIndex(500);
    const QList<qint64> everyId = [] {
        QList<qint64> ids;
        for (qint64 id = 500; id >= 1; --id)
            ids.append(id);
        return ids;
    }();
    {
        HistoryStore store(path());
        QVERIFY2(!store.error(), qPrintable(store.error().value_or(QString())));
        QCOMPARE(store.count(), 500);
        QCOMPARE(store.findIds("STRASSE"), everyId);
        QCOMPARE(store.findIds("answer number 123"), QList<qint64>({123}));
        QCOMPARE(store.findIds("er 49"),
                 QList<qint64>({499, 498, 497, 496, 495, 494, 493, 492, 491, 490, 49}));
        QCOMPARE(store.entry(7)->output, "Answer number 7");
        // Entries written after the upgrade are found beside the old ones.
        store.add(explanation("new", "Answer number 123 again"), keepAll);
        QCOMPARE(store.findIds("answer number 123"), QList<qint64>({501, 123}));
    }
    withDatabase([](QSqlDatabase& db) { QCOMPARE(userVersion(db), HistoryStore::schemaVersion); });
    // Opening it again changes nothing.
    HistoryStore store(path());
    QVERIFY(!store.error());
    QCOMPARE(store.count(), 501);
    QCOMPARE(store.findIds("straße").size(), 500);
}

void TestHistoryStore::anUpgradeThatFailsLeavesTheFileAsItWas() {
    writeFileWithoutIndex(50);
    // A name the upgrade needs is taken, so it fails after the index is built and filled.
    withDatabase([](QSqlDatabase& db) {
        QSqlQuery query(db);
        QVERIFY(
            query.exec("CREATE TRIGGER entries_search_update AFTER UPDATE ON entries BEGIN SELECT 1; END"));
    });
    {
        HistoryStore store(path());
        QVERIFY(store.error());
        QVERIFY2(store.error()->contains(path()), qPrintable(*store.error()));
    }
    withDatabase([](QSqlDatabase& db) {
        QCOMPARE(userVersion(db), 0);
        QSqlQuery query(db);
        QVERIFY(query.exec("SELECT count(*) FROM sqlite_master WHERE name LIKE 'entries_search%'") &&
                query.next());
        QCOMPARE(query.value(0).toInt(), 1);
        QVERIFY(query.exec("SELECT count(*) FROM entries") && query.next());
        QCOMPARE(query.value(0).toInt(), 50);
        QVERIFY(query.exec("DROP TRIGGER entries_search_update"));
    });
    HistoryStore store(path());
    QVERIFY2(!store.error(), qPrintable(store.error().value_or(QString())));
    QCOMPARE(store.findIds("answer number").size(), 50);
}

void TestHistoryStore::aFileOfANewerVersionIsLeftAlone() {
    writeFileWithoutIndex(3);
    withDatabase([](QSqlDatabase& db) {
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("PRAGMA user_version=%1").arg(HistoryStore::schemaVersion + 1)));
    });
    HistoryStore store(path());
    QVERIFY(store.error());
    QVERIFY2(store.error()->contains("newer version"), qPrintable(*store.error()));
    QCOMPARE(store.add(explanation("in", "out"), keepAll), std::nullopt);
    withDatabase([](QSqlDatabase& db) {
        QSqlQuery query(db);
        QVERIFY(query.exec("SELECT count(*) FROM entries") && query.next());
        QCOMPARE(query.value(0).toInt(), 3);
    });
}

void TestHistoryStore::filesAreOwnerOnlyAndInWriteAheadLogMode() {
    {
        HistoryStore store(path());
        QVERIFY(store.add(explanation("in", "out"), keepAll));
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QCOMPARE(QFileInfo(path()).absoluteDir().path(), folder());
        QCOMPARE(QFile::permissions(folder()) & modeBits,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(QFile::permissions(path()) & modeBits, ownerOnly);
        QVERIFY(QFile::exists(path() + "-wal"));
        QCOMPARE(QFile::permissions(path() + "-wal") & modeBits, ownerOnly);
        QCOMPARE(QFile::permissions(path() + "-shm") & modeBits, ownerOnly);
    }
    // The mode is kept in the file: any other reader finds it.
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("check"));
        db.setDatabaseName(path());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("PRAGMA journal_mode")) && query.next());
        QCOMPARE(query.value(0).toString(), QStringLiteral("wal"));
        QVERIFY(query.exec(QStringLiteral("SELECT count(*) FROM entries")) && query.next());
        QCOMPARE(query.value(0).toInt(), 1);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("check"));
}

void TestHistoryStore::looserFilesFromBeforeAreTightened() {
    QVERIFY(QDir().mkpath(folder()));
    QFile::setPermissions(folder(), QFileDevice::Permissions(0x7755));
    { HistoryStore store(path()); }
    QFile::setPermissions(path(), QFileDevice::Permissions(0x6644));
    HistoryStore store(path());
    QVERIFY(!store.error());
    QCOMPARE(QFile::permissions(path()) & modeBits, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(QFile::permissions(folder()) & modeBits,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void TestHistoryStore::aFileThatIsNoDatabaseIsReportedAndKept() {
    QVERIFY(QDir().mkpath(folder()));
    const QByteArray notes = QByteArray("my own notes, not a database\n").repeated(100);
    {
        QFile file(path());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(notes);
    }
    HistoryStore store(path());
    QVERIFY(store.error());
    QVERIFY2(store.error()->contains(path()), qPrintable(*store.error()));
    QCOMPARE(store.add(explanation("in", "out"), keepAll), std::nullopt);
    QVERIFY(store.find(QString()).isEmpty());
    QFile file(path());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), notes);
}

void TestHistoryStore::settingsDefaultAndStayWithinBounds() {
    MemorySettingsStore values;
    HistorySettings settings(values);
    QVERIFY(settings.enabled());
    QCOMPARE(settings.retention().days, 30);
    QCOMPARE(settings.retention().entries, 1000);
    QVERIFY(values.values().isEmpty());

    QSignalSpy retention(&settings, &HistorySettings::retentionChanged);
    settings.setKeepDays(0);
    settings.setKeepEntries(5'000'000);
    QCOMPARE(settings.retention().days, 1);
    QCOMPARE(settings.retention().entries, HistorySettings::maximumEntries);
    QCOMPARE(retention.count(), 2);
    settings.setEnabled(false);
    QCOMPARE(values.values().value("historyEnabled"), QVariant(false));

    // Edited by hand into nonsense: the defaults, never an empty history.
    values.setValue("historyKeepDays", "forever");
    values.setValue("historyKeepEntries", -4);
    QCOMPARE(settings.retention().days, 30);
    QCOMPARE(settings.retention().entries, 1);
}

void TestHistoryStore::recorderWritesWhileOnAndMarksPastedTranscripts() {
    MemorySettingsStore values;
    HistorySettings settings(values);
    HistoryStore store(path());
    FakeWindow window;
    HistoryRecorder recorder(store, settings, window);

    recorder.recordExplanation("selected", "explained");
    recorder.recordTranscript(1, "reached the editor", 3.0);
    recorder.recordTranscript(2, "paste failed", 2.0);
    recorder.transcriptPasted(1, true);
    recorder.transcriptPasted(2, false);
    recorder.recordActionResult("Summarize", "long text", "short text");

    const QList<HistoryEntry> entries = store.find(QString());
    QCOMPARE(outputs(entries),
             QStringList({"short text", "paste failed", "reached the editor", "explained"}));
    QCOMPARE(entries[0].kind, HistoryKind::actionResult);
    QCOMPARE(entries[0].action, "Summarize");
    QCOMPARE(entries[1].pasted, std::optional<bool>(false));
    QCOMPARE(entries[2].pasted, std::optional<bool>(true));
    QCOMPARE(entries[3].application, "Mousepad");
    QCOMPARE(entries[3].input, "selected");

    // Off keeps what is there and adds nothing.
    settings.setEnabled(false);
    recorder.recordExplanation("more", "not kept");
    recorder.recordTranscript(3, "not kept either", 1.0);
    QCOMPARE(store.count(), 4);
}

QTEST_GUILESS_MAIN(TestHistoryStore)
#include "tst_historystore.moc"
