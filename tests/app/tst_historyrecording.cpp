#include "DelegateHarness.h"
#include "app/StatusBarController.h"
#include "history/HistoryListModel.h"
#include "history/HistorySettings.h"
#include "history/HistoryStore.h"
#include "history/HistoryWindow.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

const std::vector<float> speech(1600, 0.25f);

ScriptedReply streamOf(const QStringList& pieces) {
    ScriptedReply reply = ScriptedReply::status(200);
    for (const QString& piece : pieces) {
        const QJsonObject body{
            {"choices", QJsonArray{QJsonObject{{"delta", QJsonObject{{"content", piece}}}}}}};
        reply.write("data: " + QJsonDocument(body).toJson(QJsonDocument::Compact) + "\n\n").pause(5);
    }
    return reply.write("data: [DONE]\n\n");
}

ScriptedReply transcript(const char* text) {
    return ScriptedReply::status(200, "application/json").write(QByteArray(R"({"text":")") + text + R"("})");
}

} // namespace

// Results reach the history through the real delegate and sequences, before they are shown or
// pasted.
class TestHistoryRecording : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { h = std::make_unique<DelegateHarness>(); }
    void cleanup() { h.reset(); }
    void explanationsAndTheirDetailAreKept();
    void transcriptIsKeptBeforeThePasteAndMarkedUntilItGoesOut();
    void historyOffKeepsNothingNew();
    void trayMenuAndRemoteActionOpenTheWindow();

private:
    HistoryStore& store() { return h->services.historyStore(); }

    QTemporaryDir runtimeDir;
    std::unique_ptr<DelegateHarness> h;
};

void TestHistoryRecording::initTestCase() {
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toUtf8());
}

void TestHistoryRecording::explanationsAndTheirDetailAreKept() {
    h->reader.answer = FocusedText{QStringLiteral("photosynthesis"), std::nullopt, std::nullopt};
    h->server.enqueue(streamOf({"Plants", " make sugar."}));
    const auto delegate = h->launch();
    delegate->explainSequence()->handleExplain();
    QTRY_COMPARE(store().count(), 1);
    h->server.enqueue(streamOf({"In depth."}));
    delegate->explainSequence()->fetchDetailedExplanation();
    QTRY_COMPARE(store().count(), 2);

    const QList<HistoryEntry> entries = store().find(QString());
    QCOMPARE(entries[0].output, QStringLiteral("In depth."));
    QCOMPARE(entries[1].output, QStringLiteral("Plants make sugar."));
    for (const HistoryEntry& entry : entries) {
        QCOMPARE(entry.kind, HistoryKind::explanation);
        QCOMPARE(entry.input, QStringLiteral("photosynthesis"));
        QCOMPARE(entry.application, QStringLiteral("Mousepad"));
        QCOMPARE(entry.pasted, std::nullopt);
    }
}

void TestHistoryRecording::transcriptIsKeptBeforeThePasteAndMarkedUntilItGoesOut() {
    h->server.enqueue(transcript("Meet me at noon"));
    h->server.enqueue(transcript("Lost in the paste"));
    const auto delegate = h->launch();
    // The paste puts the transcript on the clipboard first: by then it is in the history.
    QList<int> keptWhenPasted;
    connect(&h->clipboard, &Clipboard::changed, this, [&] { keptWhenPasted << store().count(); });

    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QTRY_COMPARE(h->keys.posted.size(), 1);
    QVERIFY(!keptWhenPasted.isEmpty());
    QCOMPARE(keptWhenPasted.constFirst(), 1);
    QTRY_COMPARE(store().find(QString()).value(0).pasted, std::optional<bool>(true));
    QCOMPARE(store().find(QString()).value(0).output, QStringLiteral("Meet me at noon"));
    QVERIFY(store().find(QString()).value(0).seconds >= 0);

    // Another program holds the clipboard: the paste cannot go out, the transcript stays marked.
    h->clipboard.refuseWrites = true;
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QTRY_COMPARE(store().count(), 2);
    QTest::qWait(300);
    QCOMPARE(h->keys.posted.size(), 1);
    const HistoryEntry lost = store().find(QString()).value(0);
    QCOMPARE(lost.output, QStringLiteral("Lost in the paste"));
    QCOMPARE(lost.pasted, std::optional<bool>(false));
}

void TestHistoryRecording::historyOffKeepsNothingNew() {
    h->services.historySettings().setEnabled(false);
    h->reader.answer = FocusedText{QStringLiteral("words"), std::nullopt, std::nullopt};
    h->server.enqueue(streamOf({"Explained."}));
    const auto delegate = h->launch();
    delegate->explainSequence()->handleExplain();
    QTRY_COMPARE(delegate->overlayPanelController()->viewModel().state(),
                 ExplanationState::content("Explained."));
    QTest::qWait(50);
    QCOMPARE(store().count(), 0);
}

void TestHistoryRecording::trayMenuAndRemoteActionOpenTheWindow() {
    const auto delegate = h->launch();
    HistoryEntry entry;
    entry.output = QStringLiteral("kept answer");
    store().add(entry, {30, 1000});

    delegate->perform(RemoteAction::history);
    HistoryWindow* window = delegate->historyWindow();
    QVERIFY(window && window->isVisible());
    QCOMPARE(window->model()->rowCount(), 1);
    window->hide();

    QAction* item = nullptr;
    for (QAction* action : delegate->statusBarController()->menu()->actions())
        if (action->text() == QStringLiteral("History..."))
            item = action;
    QVERIFY(item);
    item->trigger();
    QTRY_VERIFY(window->isVisible());
    QCOMPARE(delegate->historyWindow(), window);
}

QTEST_MAIN(TestHistoryRecording)
#include "tst_historyrecording.moc"
