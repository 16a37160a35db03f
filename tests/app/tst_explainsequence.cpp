#include "DelegateHarness.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
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

ScriptedReply streamOf(const QStringList& pieces, bool done = true, int pauseMs = 5) {
    ScriptedReply reply = ScriptedReply::status(200);
    for (const QString& piece : pieces)
        reply.write(chunk(piece)).pause(pauseMs);
    if (done)
        reply.write("data: [DONE]\n\n");
    return reply;
}

FocusedText selection(const QString& text) {
    return FocusedText{text, std::nullopt, std::nullopt};
}

// Where an explain can end before it shows an explanation.
enum class Stop {
    nothingSelected,
    onlyBlanks,
    signedOut,
    unreadable,
    emptyStream,
    rateLimited,
    droppedMidStream,
    backendDown,
    addressInvalid, // the request fails before it is made
    schemeUnknown,  // the network manager fails it without a connection
};

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
    void readsTheApplicationInFrontOrTheLastOneBeforeOurs();
    void triggersDuringACaptureWaitForItsEnd();
    void aNewExplainSupersedesTheEarlierRunAndItsDetail();
    void pasteHidesThePanelThenPastes();
    void copyWaitsForTheDesktopToAllowTheKeyboard_data();
    void copyWaitsForTheDesktopToAllowTheKeyboard();

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
    QTest::addColumn<Stop>("stop");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("autoDismiss");
    QTest::addColumn<int>("requests");
    QTest::newRow("nothing selected") << Stop::nothingSelected << "No text selected" << true << 0;
    QTest::newRow("only blanks") << Stop::onlyBlanks << "No text selected" << true << 0;
    QTest::newRow("signed out") << Stop::signedOut << "Please sign in via Preferences (Ctrl+,)" << true << 0;
    QTest::newRow("no way to read a selection")
        << Stop::unreadable
        << "Accessibility required.\n\nIf already turned on, log out and back in, then start Quillpoint "
           "again:\n/opt/Quillpoint/bin/quillpoint"
        << false << 0;
    QTest::newRow("stream without text") << Stop::emptyStream << "No response received" << true << 1;
    QTest::newRow("rate limited") << Stop::rateLimited << APIError::rateLimited().message() << true << 1;
    QTest::newRow("failure after pieces replaces them")
        << Stop::droppedMidStream << APIError::connectionRefused().message() << true << 1;
    QTest::newRow("backend down") << Stop::backendDown << APIError::connectionRefused().message() << true
                                  << 0;
    QTest::newRow("backend address invalid")
        << Stop::addressInvalid << APIError::invalidURL("http://exa mple/api/explain").message() << true << 0;
    QTest::newRow("backend scheme unknown")
        << Stop::schemeUnknown << QStringLiteral("Network error: Protocol \"quill\" is unknown") << true << 0;
}

void TestExplainSequence::everyStopShowsItsMessage() {
    QFETCH(Stop, stop);
    QFETCH(QString, message);
    QFETCH(bool, autoDismiss);
    QFETCH(int, requests);
    h->reader.answer = selection(QStringLiteral("text"));
    switch (stop) {
    case Stop::nothingSelected:
        h->reader.answer.reset();
        break;
    case Stop::onlyBlanks:
        h->reader.answer = selection(QStringLiteral(" \n\t "));
        break;
    case Stop::unreadable:
        h->accessibility.enabled.reset();
        h->keys.available = false;
        break;
    case Stop::emptyStream:
        h->server.enqueue(streamOf({}));
        break;
    case Stop::rateLimited:
        h->server.enqueue(ScriptedReply::status(429, "application/json").write("{}"));
        break;
    case Stop::droppedMidStream:
        h->server.enqueue(ScriptedReply::raw("HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\n"
                                             "Content-Length: 4000\r\n\r\n" +
                                             chunk("partial"))
                              .pause(50)
                              .drop());
        break;
    case Stop::backendDown:
        h->settings.setValue(QuillAPIClient::baseURLOverrideKey, QStringLiteral("http://127.0.0.1:1"));
        break;
    case Stop::addressInvalid:
        h->settings.setValue(QuillAPIClient::baseURLOverrideKey, QStringLiteral("http://exa mple"));
        break;
    case Stop::schemeUnknown:
        h->settings.setValue(QuillAPIClient::baseURLOverrideKey, QStringLiteral("quill://127.0.0.1"));
        break;
    case Stop::signedOut:
        break;
    }

    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    if (stop == Stop::signedOut)
        h->auth.signOut(); // signs in again on a later turn of the event loop

    delegate->explainSequence()->handleExplain();
    QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::error(message));
    QCOMPARE(overlay.isDismissPending(), autoDismiss);
    QCOMPARE(h->server.requests.size(), requests);
    QCOMPARE(h->launcher.opened.size(), stop == Stop::unreadable ? 1 : 0);
    if (stop == Stop::nothingSelected)
        QCOMPARE(delegate->explainSequence()->currentExplainText(), QString());
}

void TestExplainSequence::readsTheApplicationInFrontOrTheLastOneBeforeOurs() {
    h->tracker.front = 501;
    const auto delegate = h->launch();
    h->tracker.activate(ownProcess);
    delegate->explainSequence()->handleExplain();
    h->tracker.activate(777);
    delegate->explainSequence()->handleExplain();
    h->tracker.front.reset();
    delegate->explainSequence()->handleExplain();
    QCOMPARE(h->reader.askedPids, (QList<qint64>{501, 777, -1}));
}

void TestExplainSequence::triggersDuringACaptureWaitForItsEnd() {
    // Nothing to read over accessibility: every explain copies, and the copy answers a little later.
    h->server.enqueue(streamOf({"first"}));
    h->server.enqueue(streamOf({"second"}));
    h->server.enqueue(streamOf({"third"}));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QStringList events;
    int copies = 0;
    h->keys.onPost = [&] {
        ++copies;
        events << QStringLiteral("copy %1").arg(copies);
        h->clipboard.changeLater({{"text/plain", QStringLiteral("copied %1").arg(copies).toUtf8()}}, 20);
        // Pressed while the first copy waits for its answer.
        if (copies == 1)
            QTimer::singleShot(0, [&] { h->grabber.press({Qt::Key_1, Qt::ControlModifier}); });
    };
    connect(&overlay.viewModel(), &ExplanationViewModel::stateChanged, this, [&] {
        if (overlay.viewModel().state().kind() == ExplanationState::Kind::error)
            events << overlay.viewModel().state().text();
    });

    delegate->explainSequence()->handleExplain();
    events << "first capture ended";
    QTRY_COMPARE(copies, 2);
    QTRY_COMPARE(overlay.viewModel().state().kind(), ExplanationState::Kind::content);
    QCOMPARE(events, (QStringList{"copy 1", "first capture ended", "copy 2"}));
    QCOMPARE(QJsonDocument::fromJson(h->server.requests.last().body)["text"].toString(),
             QStringLiteral("copied 2"));
}

void TestExplainSequence::copyWaitsForTheDesktopToAllowTheKeyboard_data() {
    QTest::addColumn<bool>("allowed");
    QTest::newRow("allowed") << true;
    QTest::newRow("refused") << false;
}

void TestExplainSequence::copyWaitsForTheDesktopToAllowTheKeyboard() {
    QFETCH(bool, allowed);
    // Nothing to read over accessibility, and a desktop that asks the user before we may type.
    h->keys.asking = true;
    h->server.enqueue(streamOf({"explained"}));
    h->keys.onPost = [this] { h->clipboard.changeLater({{"text/plain", QByteArray("copied words")}}, 20); };
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();

    delegate->explainSequence()->handleExplain();
    // The copy key is not sent into the desktop's dialog; the panel says what the dialog is for.
    QTRY_COMPARE(h->keys.prepareCalls, 1);
    QVERIFY(h->keys.posted.isEmpty());
    QVERIFY(overlay.panel()->isVisible());
    QVERIFY(overlay.viewModel().loadingMessage().value_or(QString()).contains("permission to type"));

    h->keys.answerConsent(allowed);
    if (!allowed) {
        QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::error("No text selected"));
        QVERIFY(h->keys.posted.isEmpty());
        QCOMPARE(h->server.requests.size(), 0);
        return;
    }
    QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::content("explained"));
    QCOMPARE(h->keys.posted, (QList<PostedKey>{{Qt::Key_C, Qt::ControlModifier}}));
    QCOMPARE(QJsonDocument::fromJson(h->server.requests.last().body)["text"].toString(),
             QStringLiteral("copied words"));
}

void TestExplainSequence::aNewExplainSupersedesTheEarlierRunAndItsDetail() {
    h->reader.answer = selection(QStringLiteral("text A"));
    h->server.enqueue(streamOf(QStringList(60, QStringLiteral("α")), true, 30));
    h->server.enqueue(streamOf(QStringList(60, QStringLiteral("δ")), true, 30));
    h->server.enqueue(streamOf({"B", " explained."}));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    ExplanationViewModel& viewModel = overlay.viewModel();

    delegate->explainSequence()->handleExplain();
    QTRY_VERIFY(viewModel.state().text().startsWith(QStringLiteral("α")));
    delegate->explainSequence()->fetchDetailedExplanation();
    QTRY_VERIFY(viewModel.detailedText().has_value());

    h->reader.answer = selection(QStringLiteral("text B"));
    delegate->explainSequence()->handleExplain();
    QStringList shown;
    connect(&viewModel, &ExplanationViewModel::stateChanged, this,
            [&] { shown << viewModel.state().text(); });
    connect(&viewModel, &ExplanationViewModel::detailedTextChanged, this,
            [&] { shown << viewModel.detailedText().value_or(QString()); });

    QTRY_COMPARE(h->server.clientClosedEarly, 2);
    QTRY_COMPARE(viewModel.state(), ExplanationState::content("B explained."));
    // Long enough for the earlier replies to have run to their ends.
    QTest::qWait(500);
    QVERIFY2(shown.filter(QRegularExpression("[αδ]")).isEmpty(), qPrintable(shown.join('|')));
    QCOMPARE(viewModel.detailedText(), std::nullopt);
    QVERIFY(!viewModel.isLoadingDetail());
    QCOMPARE(h->server.requests.size(), 3);
    QCOMPARE(QJsonDocument::fromJson(h->server.requests[2].body)["text"].toString(),
             QStringLiteral("text B"));
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
