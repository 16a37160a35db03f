#include "FakeCapture.h"
#include "history/HistoryRecorder.h"
#include "history/HistorySettings.h"
#include "history/HistoryStore.h"
#include "platform/SettingsStore.h"

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
    void deleteAndClearRemoveEntries();
    void filesAreOwnerOnlyAndInWriteAheadLogMode();
    void looserFilesFromBeforeAreTightened();
    void aFileThatIsNoDatabaseIsReportedAndKept();
    void settingsDefaultAndStayWithinBounds();
    void recorderWritesWhileOnAndMarksPastedTranscripts();

private:
    QString path() const { return folder() + QStringLiteral("/history.sqlite3"); }
    QString folder() const { return m_dir->filePath(QStringLiteral("data/Quillpoint")); }
    std::unique_ptr<QTemporaryDir> m_dir;
};

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
