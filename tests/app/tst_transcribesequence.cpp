#include "DelegateHarness.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {
constexpr KeyCombination escape{Qt::Key_Escape, {}};
const std::vector<float> speech(1600, 0.25f); // 100 ms at 16 kHz
} // namespace

// The transcribe sequence through the real delegate, overlay, API client and audio service.
class TestTranscribeSequence : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void secondPressUploadsTheRecordingAndPastesTheText();
    void escapeDiscardsTheRecording();
    void maximumDurationUploadsByItself();
    void failuresAreShownAndNothingIsPasted_data();
    void failuresAreShownAndNothingIsPasted();
    void changedCancelShortcutIsNamedInTheMessage();

private:
    QStringList recordings() const {
        return QDir(tempDir.path()).entryList({"quill_recording_*"}, QDir::Files);
    }

    QTemporaryDir tempDir;
    std::unique_ptr<DelegateHarness> h;
};

void TestTranscribeSequence::initTestCase() {
    QVERIFY(tempDir.isValid());
    qputenv("XDG_RUNTIME_DIR", tempDir.path().toUtf8());
}

void TestTranscribeSequence::init() {
    h = std::make_unique<DelegateHarness>();
}

void TestTranscribeSequence::cleanup() {
    h.reset();
    QCOMPARE(recordings(), QStringList());
}

void TestTranscribeSequence::secondPressUploadsTheRecordingAndPastesTheText() {
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":" Hello there"})"));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QVERIFY(!h->grabber.grabbed.contains(escape));

    delegate->transcribeSequence()->toggleTranscription();
    QVERIFY(delegate->transcribeSequence()->isTranscribing());
    QVERIFY(h->grabber.grabbed.contains(escape));
    QCOMPARE(overlay.viewModel().mode(), ViewMode::transcribe);
    QCOMPARE(overlay.viewModel().loadingMessage(), std::optional<QString>("Listening... (Esc to cancel)"));
    QCOMPARE(recordings().size(), 1);
    h->mic.push(speech);
    QTRY_VERIFY(overlay.viewModel().audioLevel() > 0.5f);

    delegate->transcribeSequence()->toggleTranscription();
    QVERIFY(!delegate->transcribeSequence()->isTranscribing());
    QVERIFY(!h->grabber.grabbed.contains(escape));
    QCOMPARE(recordings(), QStringList()); // read into memory and deleted before the upload
    QCOMPARE(overlay.viewModel().loadingMessage(), std::optional<QString>("Transcribing..."));
    QCOMPARE(overlay.viewModel().mode(), ViewMode::explain);

    QTRY_COMPARE(h->keys.posted.size(), 1);
    QCOMPARE(h->keys.posted[0], (PostedKey{Qt::Key_V, Qt::ControlModifier}));
    QCOMPARE(h->clipboard.text(), std::optional<QString>(" Hello there"));
    QVERIFY(!overlay.panel()->isVisible());

    QCOMPARE(h->server.requests.size(), 1);
    const RecordedRequest& request = h->server.requests[0];
    QCOMPARE(request.path, QByteArray("/api/transcribe"));
    QCOMPARE(request.header("Content-Type"), QByteArray("audio/mp4"));
    QCOMPARE(request.header("Authorization"), "Bearer " + h->token().toUtf8());
    QCOMPARE(request.body.size(), qsizetype(speech.size() * sizeof(float)));

    // A late second stop, as from the maximum duration, does nothing.
    delegate->transcribeSequence()->stopAndTranscribe();
    QTest::qWait(30);
    QCOMPARE(h->server.requests.size(), 1);
}

void TestTranscribeSequence::escapeDiscardsTheRecording() {
    const auto delegate = h->launch();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    QVERIFY(h->grabber.press(escape));
    QTRY_VERIFY(!delegate->transcribeSequence()->isTranscribing());
    QVERIFY(!delegate->overlayPanelController()->panel()->isVisible());
    QVERIFY(!h->grabber.grabbed.contains(escape));
    QCOMPARE(recordings(), QStringList());
    QTest::qWait(30);
    QCOMPARE(h->server.requests.size(), 0);
    // Cancel while idle only hides the panel.
    delegate->transcribeSequence()->abortTranscription();
    QVERIFY(!delegate->transcribeSequence()->isTranscribing());
}

void TestTranscribeSequence::maximumDurationUploadsByItself() {
    h->maxDuration = 0.2;
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"done"})"));
    const auto delegate = h->launch();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    QTRY_COMPARE(h->server.requests.size(), 1);
    QVERIFY(!delegate->transcribeSequence()->isTranscribing());
    QTRY_COMPARE(h->clipboard.text(), std::optional<QString>("done"));
}

void TestTranscribeSequence::failuresAreShownAndNothingIsPasted_data() {
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("message"); // empty: the panel is hidden without a message
    QTest::addColumn<int>("requests");
    QTest::newRow("no microphone") << "noMicrophone"
                                   << "Failed to start recording" << 0;
    QTest::newRow("no sound arrived") << "silence" << QString() << 0;
    QTest::newRow("server error") << "500" << APIError::serverError(500).message() << 1;
    QTest::newRow("empty transcription") << "emptyText" << QString() << 1;
    QTest::newRow("not valid JSON") << "garbage" << APIError::serverError(200).message() << 1;
}

void TestTranscribeSequence::failuresAreShownAndNothingIsPasted() {
    QFETCH(QString, situation);
    QFETCH(QString, message);
    QFETCH(int, requests);
    if (situation == "noMicrophone")
        h->mic.available = false;
    if (situation == "500")
        h->server.enqueue(ScriptedReply::status(500, "application/json").write("{}"));
    if (situation == "emptyText")
        h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":""})"));
    if (situation == "garbage")
        h->server.enqueue(ScriptedReply::status(200, "application/json").write("<html>"));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();

    delegate->transcribeSequence()->toggleTranscription();
    if (situation != "silence")
        h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    if (message.isEmpty())
        QTRY_VERIFY(!overlay.panel()->isVisible());
    else
        QTRY_COMPARE(overlay.viewModel().state(), ExplanationState::error(message));
    QVERIFY(!delegate->transcribeSequence()->isTranscribing());
    QTest::qWait(30);
    QCOMPARE(h->server.requests.size(), requests);
    QVERIFY(h->keys.posted.isEmpty());
}

void TestTranscribeSequence::changedCancelShortcutIsNamedInTheMessage() {
    h->store.setShortcut(ShortcutAction::cancelTranscription, {7, modifier::control});
    const auto delegate = h->launch();
    delegate->transcribeSequence()->startTranscription();
    QCOMPARE(delegate->overlayPanelController()->viewModel().loadingMessage(),
             std::optional<QString>("Listening... (Super+X to cancel)"));
    delegate->transcribeSequence()->abortTranscription();
}

QTEST_MAIN(TestTranscribeSequence)
#include "tst_transcribesequence.moc"
