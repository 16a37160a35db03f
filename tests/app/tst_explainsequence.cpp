#include "DelegateHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

QByteArray chunk(const QString& content) {
    const QJsonObject delta{{"content", content}};
    const QJsonObject choice{{"delta", delta}};
    const QJsonObject body{{"choices", QJsonArray{choice}}};
    return "data: " + QJsonDocument(body).toJson(QJsonDocument::Compact) + "\n\n";
}

ScriptedReply streamOf(const QStringList& pieces, bool done = true) {
    ScriptedReply reply = ScriptedReply::status(200);
    for (const QString& piece : pieces)
        reply.write(chunk(piece)).pause(5);
    if (done)
        reply.write("data: [DONE]\n\n");
    return reply;
}

FocusedText selection(const QString& text) {
    return FocusedText{text, std::nullopt, std::nullopt};
}

} // namespace

// The explain sequence through the real delegate, overlay and API client.
class TestExplainSequence : public QObject {
    Q_OBJECT
private slots:
    void init() { h = std::make_unique<DelegateHarness>(); }
    void cleanup() { h.reset(); }
    void streamsTheUntrimmedSelectionAndFetchesDetail();
    void everyStopShowsItsMessage_data();
    void everyStopShowsItsMessage();
    void ourOwnWindowInFrontReadsTheLastApplication();
    void pasteHidesThePanelThenPastes();

private:
    std::unique_ptr<DelegateHarness> h;
};

void TestExplainSequence::streamsTheUntrimmedSelectionAndFetchesDetail() {
    h->reader.answer = selection(QStringLiteral("  the selected words\n"));
    h->server.enqueue(streamOf({"**Selected**", " words", " explained."}));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();

    delegate->explainSequence()->handleExplain();
    QCOMPARE(overlay.viewModel().state(), ExplanationState::loading());
    QVERIFY(overlay.panel()->isVisible());
    QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::content("**Selected** words explained."));
    QCOMPARE(delegate->explainSequence()->currentExplainText(), QStringLiteral("  the selected words\n"));

    QCOMPARE(h->server.requests.size(), 1);
    const RecordedRequest& request = h->server.requests[0];
    QCOMPARE(request.path, QByteArray("/api/explain"));
    QCOMPARE(request.header("Authorization"), "Bearer " + h->token().toUtf8());
    QCOMPARE(request.body,
             QByteArray(R"({"detailed":false,"model":"gpt-5.2","text":"  the selected words\n"})"));

    h->server.enqueue(streamOf({"In depth", ": more."}));
    delegate->explainSequence()->fetchDetailedExplanation();
    QVERIFY(overlay.viewModel().isLoadingDetail());
    QTRY_COMPARE(overlay.viewModel().detailedText(), std::optional<QString>("In depth: more."));
    QTRY_VERIFY(!overlay.viewModel().isLoadingDetail());
    QCOMPARE(h->server.requests.size(), 2);
    QCOMPARE(QJsonDocument::fromJson(h->server.requests[1].body)["detailed"].toBool(), true);
    QCOMPARE(QJsonDocument::fromJson(h->server.requests[1].body)["text"].toString(),
             QStringLiteral("  the selected words\n"));
    QCOMPARE(overlay.viewModel().state(), ExplanationState::content("**Selected** words explained."));
    QVERIFY(!overlay.isDismissPending());
}

void TestExplainSequence::everyStopShowsItsMessage_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("autoDismiss");
    QTest::addColumn<int>("requests");
    QTest::newRow("nothing selected") << "none"
                                      << "No text selected" << true << 0;
    QTest::newRow("only blanks") << "blank"
                                 << "No text selected" << true << 0;
    QTest::newRow("signed out") << "signedOut"
                                << "Please sign in via Preferences (Ctrl+,)" << true << 0;
    QTest::newRow("no way to read a selection")
        << "unreadable"
        << "Accessibility required.\n\nIf already turned on, log out and back in, then start Quillpoint "
           "again:\n/opt/Quillpoint/bin/quillpoint"
        << false << 0;
    QTest::newRow("stream without text") << "empty"
                                         << "No response received" << true << 1;
    QTest::newRow("rate limited") << "429" << APIError::rateLimited().message() << true << 1;
    QTest::newRow("failure after pieces replaces them")
        << "drop" << APIError::connectionRefused().message() << true << 1;
    QTest::newRow("backend down") << "refused" << APIError::connectionRefused().message() << true << 0;
}

void TestExplainSequence::everyStopShowsItsMessage() {
    QFETCH(QString, situation);
    QFETCH(QString, message);
    QFETCH(bool, autoDismiss);
    QFETCH(int, requests);
    h->reader.answer = selection(QStringLiteral("text"));
    if (situation == "none")
        h->reader.answer.reset();
    if (situation == "blank")
        h->reader.answer = selection(QStringLiteral(" \n\t "));
    if (situation == "unreadable") {
        h->accessibility.enabled.reset();
        h->keys.available = false;
    }
    if (situation == "empty")
        h->server.enqueue(streamOf({}));
    if (situation == "429")
        h->server.enqueue(ScriptedReply::status(429, "application/json").write("{}"));
    if (situation == "drop")
        h->server.enqueue(ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                             "Content-Length: 4000\r\n\r\n" +
                                             chunk("partial"))
                              .pause(50)
                              .drop());
    if (situation == "refused")
        h->settings.setValue(QuillAPIClient::baseURLOverrideKey, QStringLiteral("http://127.0.0.1:1"));

    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    if (situation == "signedOut")
        h->auth.signOut(); // signs in again on a later turn of the event loop

    delegate->explainSequence()->handleExplain();
    QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::error(message));
    QCOMPARE(overlay.isDismissPending(), autoDismiss);
    QCOMPARE(h->server.requests.size(), requests);
    QCOMPARE(h->launcher.opened.size(), situation == "unreadable" ? 1 : 0);
    if (situation == "none")
        QCOMPARE(delegate->explainSequence()->currentExplainText(), QString());
}

void TestExplainSequence::ourOwnWindowInFrontReadsTheLastApplication() {
    h->tracker.front = 501;
    const auto delegate = h->launch();
    h->tracker.activate(ownProcess);
    delegate->explainSequence()->handleExplain();
    h->tracker.activate(777);
    delegate->explainSequence()->handleExplain();
    QCOMPARE(h->reader.askedPids, (QList<qint64>{501, -1}));
}

void TestExplainSequence::pasteHidesThePanelThenPastes() {
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    overlay.showPanel();
    delegate->explainSequence()->pasteFromOverlay(QStringLiteral("pasted words"));
    QVERIFY(!overlay.panel()->isVisible());
    QVERIFY(h->keys.posted.isEmpty());
    QTRY_COMPARE(h->clipboard.text(), std::optional<QString>("pasted words"));
    QTRY_COMPARE(h->keys.posted.size(), 1);
    QCOMPARE(h->keys.posted[0], (PostedKey{Qt::Key_V, Qt::ControlModifier}));
}

QTEST_MAIN(TestExplainSequence)
#include "tst_explainsequence.moc"
