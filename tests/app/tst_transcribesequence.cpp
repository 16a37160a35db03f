#include "DelegateHarness.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {
constexpr KeyCombination escape{Qt::Key_Escape, {}};
constexpr KeyCombination ctrl2{Qt::Key_2, Qt::ControlModifier};
const std::vector<float> speech(1600, 0.25f); // 100 ms at 16 kHz

// How a recording can end without a transcript to paste.
enum class Failure { noMicrophone, silence, serverError, emptyText, notJson };

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
    void keyboardAskedForAtTheFirstPasteLeavesTheTextOnTheClipboardWhenRefused_data();
    void keyboardAskedForAtTheFirstPasteLeavesTheTextOnTheClipboardWhenRefused();
    void transcriptsWaitingForTheKeyboardAreAllDeliveredDuringANewRecording_data();
    void transcriptsWaitingForTheKeyboardAreAllDeliveredDuringANewRecording();
    void maximumDurationUploadsByItself();
    void failuresAreShownAndNothingIsPasted_data();
    void failuresAreShownAndNothingIsPasted();
    void changedCancelShortcutIsNamedInTheMessage();
    void recordingThatNeverGetsGoingIsShownAsAFailure();
    void holdToTalkStopsAtTheReleaseOfALongPress_data();
    void holdToTalkStopsAtTheReleaseOfALongPress();
    void chosenMicrophoneAndLanguageAreUsedAndTheClipboardComesBackAfterTheRead();
    void lostMicrophoneAndLastSecondsAreShownWithoutLosingAudio();
    void fullDiskStopsAtOnceAndKeepsWhatWasSaid();
    void failedUploadKeepsTheRecordingAndSaysWhere();
    void deliveredTranscriptLeavesThePanelAlone();
    void aClipboardThatCannotBeKeptIsLeftAndTheTranscriptShown();

private:
    QStringList recordings() const {
        return QDir(tempDir.path()).entryList({"quill_recording_*"}, QDir::Files);
    }
    QStringList kept() const {
        return QDir(tempDir.path()).entryList({"quill_kept_recording_*"}, QDir::Files);
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
    for (const QString& name : kept())
        QFile::remove(tempDir.filePath(name));
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
    // Escape no longer cancels: it dismisses the panel that waits for the transcript.
    QVERIFY(!delegate->cancelShortcutService()->isRegistered());
    QVERIFY(delegate->dismissShortcutService()->isRegistered());
    QCOMPARE(recordings().size(), 1); // until its text has arrived
    QCOMPARE(overlay.viewModel().loadingMessage(), std::optional<QString>("Transcribing..."));
    QCOMPARE(overlay.viewModel().mode(), ViewMode::explain);

    QTRY_COMPARE(h->keys.posted.size(), 1);
    QCOMPARE(h->keys.posted[0], (PostedKey{Qt::Key_V, Qt::ControlModifier}));
    QCOMPARE(h->clipboard.text(), std::optional<QString>(" Hello there"));
    QVERIFY(!overlay.panel()->isVisible());
    QCOMPARE(recordings(), QStringList());
    QTRY_VERIFY(!h->grabber.grabbed.contains(escape));

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

void TestTranscribeSequence::keyboardAskedForAtTheFirstPasteLeavesTheTextOnTheClipboardWhenRefused_data() {
    QTest::addColumn<bool>("allowed");
    QTest::addColumn<bool>("keepClipboard");
    QTest::newRow("allowed") << true << false;
    QTest::newRow("allowed, keeping the clipboard") << true << true;
    QTest::newRow("refused") << false << false;
    QTest::newRow("refused, keeping the clipboard") << false << true;
}

void TestTranscribeSequence::keyboardAskedForAtTheFirstPasteLeavesTheTextOnTheClipboardWhenRefused() {
    QFETCH(bool, allowed);
    QFETCH(bool, keepClipboard);
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"Hello there"})"));
    h->keys.asking = true;
    h->clipboard.setText("the user's text");
    h->preferences.setKeepClipboard(keepClipboard);
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();

    // While the desktop's dialog is up the panel says what it is for, and nothing is pasted.
    QTRY_COMPARE(h->keys.prepareCalls, 1);
    QVERIFY(overlay.panel()->isVisible());
    QVERIFY(overlay.viewModel().loadingMessage().value_or(QString()).contains("permission to type"));
    QTest::qWait(30);
    QVERIFY(h->keys.posted.isEmpty());
    QCOMPARE(h->clipboard.text(), std::optional<QString>("the user's text"));

    h->keys.answerConsent(allowed);
    if (allowed) {
        QTRY_COMPARE(h->keys.posted.size(), 1);
        QCOMPARE(h->keys.posted[0], (PostedKey{Qt::Key_V, Qt::ControlModifier}));
        QVERIFY(!overlay.panel()->isVisible());
        return;
    }
    QTRY_COMPARE(overlay.viewModel().state().kind(), ExplanationState::Kind::error);
    QVERIFY(overlay.viewModel().state().text().contains("Press Ctrl+V to paste"));
    QVERIFY(overlay.panel()->isVisible());
    QCOMPARE(h->clipboard.text(), std::optional<QString>("Hello there"));
    QTest::qWait(50);
    QVERIFY(h->keys.posted.isEmpty());
    QCOMPARE(h->clipboard.text(), std::optional<QString>("Hello there"));
}

void TestTranscribeSequence::transcriptsWaitingForTheKeyboardAreAllDeliveredDuringANewRecording_data() {
    QTest::addColumn<bool>("allowed");
    QTest::newRow("allowed") << true;
    QTest::newRow("refused") << false;
}

// The user dictates twice and starts a third recording before answering the desktop's dialog.
void TestTranscribeSequence::transcriptsWaitingForTheKeyboardAreAllDeliveredDuringANewRecording() {
    QFETCH(bool, allowed);
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"First"})"));
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"Second"})"));
    h->keys.asking = true;
    h->preferences.setKeepClipboard(false);
    const auto delegate = h->launch();
    TranscribeSequence& sequence = *delegate->transcribeSequence();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QSignalSpy pasted(&sequence, &TranscribeSequence::transcriptPasted);
    for (int waiting = 1; waiting <= 2; ++waiting) {
        sequence.toggleTranscription();
        h->mic.push(speech);
        sequence.toggleTranscription();
        QTRY_COMPARE(h->keys.prepareCalls, waiting);
    }
    sequence.toggleTranscription();
    QVERIFY(sequence.isTranscribing());

    h->keys.answerConsent(allowed);
    QTRY_COMPARE(pasted.size(), 2);
    QCOMPARE(pasted[0], (QVariantList{quint64(1), allowed}));
    QCOMPARE(pasted[1], (QVariantList{quint64(2), allowed}));
    QCOMPARE(h->keys.posted.size(), allowed ? 2 : 0);
    QCOMPARE(h->clipboard.text(), std::optional<QString>("Second"));
    // The new recording goes on, in its panel.
    QVERIFY(sequence.isTranscribing());
    QVERIFY(overlay.panel()->isVisible());
    QCOMPARE(overlay.viewModel().mode(), ViewMode::transcribe);
    QCOMPARE(overlay.viewModel().state().kind(), ExplanationState::Kind::loading);
    QCOMPARE(overlay.viewModel().loadingMessage(), std::optional<QString>("Listening... (Esc to cancel)"));
    sequence.abortTranscription();
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
    QTest::qWait(30); // and no upload follows
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
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<QString>("message"); // empty: the panel is hidden without a message
    QTest::addColumn<int>("requests");
    QTest::newRow("no microphone") << Failure::noMicrophone << "Failed to start recording" << 0;
    QTest::newRow("no sound arrived") << Failure::silence << QString() << 0;
    QTest::newRow("server error") << Failure::serverError << APIError::serverError(500).message() << 1;
    QTest::newRow("empty transcription") << Failure::emptyText << QString() << 1;
    QTest::newRow("not valid JSON") << Failure::notJson << APIError::serverError(200).message() << 1;
}

void TestTranscribeSequence::failuresAreShownAndNothingIsPasted() {
    QFETCH(Failure, failure);
    QFETCH(QString, message);
    QFETCH(int, requests);
    switch (failure) {
    case Failure::noMicrophone:
        h->mic.available = false;
        break;
    case Failure::serverError:
        h->server.enqueue(ScriptedReply::status(500, "application/json").write("{}"));
        break;
    case Failure::emptyText:
        h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":""})"));
        break;
    case Failure::notJson:
        h->server.enqueue(ScriptedReply::status(200, "application/json").write("<html>"));
        break;
    case Failure::silence:
        break;
    }
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();

    delegate->transcribeSequence()->toggleTranscription();
    if (failure != Failure::silence)
        h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    if (message.isEmpty())
        QTRY_VERIFY(!overlay.panel()->isVisible());
    else
        QTRY_COMPARE(overlay.viewModel().state().kind(), ExplanationState::Kind::error);
    if (!message.isEmpty())
        QCOMPARE(overlay.viewModel().state().text().section(u'\n', 0, 0), message);
    QVERIFY(!delegate->transcribeSequence()->isTranscribing());
    QTest::qWait(30); // nothing more goes out afterwards
    QCOMPARE(h->server.requests.size(), requests);
    QVERIFY(h->keys.posted.isEmpty());
}

void TestTranscribeSequence::changedCancelShortcutIsNamedInTheMessage() {
    h->store.setShortcut(ShortcutAction::cancelTranscription, {7, modifier::super});
    const auto delegate = h->launch();
    delegate->transcribeSequence()->startTranscription();
    QCOMPARE(delegate->overlayPanelController()->viewModel().loadingMessage(),
             std::optional<QString>("Listening... (Super+X to cancel)"));
    delegate->transcribeSequence()->abortTranscription();
}

void TestTranscribeSequence::recordingThatNeverGetsGoingIsShownAsAFailure() {
    const auto delegate = h->launch();
    TranscribeSequence& sequence = *delegate->transcribeSequence();
    sequence.startTranscription();
    QVERIFY(sequence.isTranscribing());
    // The sound server refuses the connection that the source made in the background.
    h->mic.end(QStringLiteral("Connection refused"));
    QTRY_COMPARE(delegate->overlayPanelController()->viewModel().state(),
                 ExplanationState::error("Failed to start recording"));
    QVERIFY(!sequence.isTranscribing());
    QVERIFY(!sequence.cancelShortcutService().isRegistered());
    // The next press starts a recording rather than stopping the failed one.
    sequence.toggleTranscription();
    QTRY_VERIFY(sequence.isTranscribing());
    sequence.abortTranscription();
    QTRY_VERIFY(!sequence.isTranscribing());
}

void TestTranscribeSequence::holdToTalkStopsAtTheReleaseOfALongPress_data() {
    QTest::addColumn<bool>("holdToTalk");
    QTest::addColumn<int>("holdMs");
    QTest::addColumn<bool>("stopsAtRelease");
    QTest::newRow("held") << true << 400 << true;
    QTest::newRow("short press toggles") << true << 50 << false;
    QTest::newRow("off: held still toggles") << false << 400 << false;
}

void TestTranscribeSequence::holdToTalkStopsAtTheReleaseOfALongPress() {
    QFETCH(bool, holdToTalk);
    QFETCH(int, holdMs);
    QFETCH(bool, stopsAtRelease);
    h->preferences.setHoldToTalk(holdToTalk);
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"held"})"));
    const auto delegate = h->launch();
    TranscribeSequence& sequence = *delegate->transcribeSequence();

    QVERIFY(h->grabber.press(ctrl2));
    QTRY_VERIFY(sequence.isTranscribing());
    h->mic.push(speech);
    QTest::qWait(holdMs); // how long the key is held decides
    h->grabber.release(ctrl2);
    if (stopsAtRelease) {
        QTRY_VERIFY(!sequence.isTranscribing());
    } else {
        // The release leaves the recording running.
        QTest::qWait(50);
        QVERIFY(sequence.isTranscribing());
        // The next press stops it, and its own release changes nothing.
        QVERIFY(h->grabber.press(ctrl2));
        h->grabber.release(ctrl2);
        QTRY_VERIFY(!sequence.isTranscribing());
    }
    QTRY_COMPARE(h->server.requests.size(), 1);
    QTRY_COMPARE(h->clipboard.text(), std::optional<QString>("held"));
    // No press is left over to start another recording.
    QTest::qWait(50);
    QVERIFY(!sequence.isTranscribing());
}

void TestTranscribeSequence::chosenMicrophoneAndLanguageAreUsedAndTheClipboardComesBackAfterTheRead() {
    h->preferences.setMicrophone("alsa_input.usb-headset");
    h->preferences.setTranscriptionLanguage("de");
    h->preferences.setKeepClipboard(true);
    const QList<ClipboardFormat> earlier{{"image/png", QByteArray("\x89PNG\r\n\x1a\n\0\xff", 10)},
                                         {"text/plain", "caption"}};
    h->clipboard.contents = earlier;
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"Guten Tag"})"));
    const auto delegate = h->launch();

    delegate->transcribeSequence()->toggleTranscription();
    QCOMPARE(h->pcmInputs, QStringList{"alsa_input.usb-headset"});
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QTRY_COMPARE(h->keys.posted.size(), 1);
    QCOMPARE(h->server.requests[0].path, QByteArray("/api/transcribe?language=de"));

    // The transcript waits on the clipboard until the application in front has read it.
    QCOMPARE(h->clipboard.text(), std::optional<QString>("Guten Tag"));
    QTest::qWait(100);
    QCOMPARE(h->clipboard.text(), std::optional<QString>("Guten Tag"));
    h->clipboard.readByOtherProgram();
    QTRY_COMPARE(h->clipboard.contents, earlier);

    // Something the user copies before the read is theirs, and stays.
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"Noch was"})"));
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QTRY_COMPARE(h->keys.posted.size(), 2);
    const QList<ClipboardFormat> newer{{"text/plain", "copied meanwhile"}};
    h->clipboard.contents = newer;
    h->clipboard.readByOtherProgram();
    QTest::qWait(300);
    QCOMPARE(h->clipboard.contents, newer);
}

void TestTranscribeSequence::aClipboardThatCannotBeKeptIsLeftAndTheTranscriptShown() {
    h->preferences.setKeepClipboard(true);
    const QList<ClipboardFormat> earlier{{"text/plain", "the user's"}};
    h->clipboard.contents = earlier;
    h->clipboard.ownerTimesOut = true;
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"Guten Tag"})"));
    const auto delegate = h->launch();
    QSignalSpy pasted(delegate->transcribeSequence(), &TranscribeSequence::transcriptPasted);

    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QTRY_COMPARE(pasted.count(), 1);
    QCOMPARE(pasted.at(0).at(1).toBool(), false);
    QVERIFY(h->keys.posted.isEmpty());
    QCOMPARE(h->clipboard.contents, earlier);
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QTRY_VERIFY(overlay.panel()->isVisible());
    QCOMPARE(overlay.viewModel().state(), ExplanationState::content("Guten Tag"));
    QCOMPARE(overlay.viewModel().mode(), ViewMode::transcribe);
    QVERIFY(overlay.viewModel().notice());
}

void TestTranscribeSequence::lostMicrophoneAndLastSecondsAreShownWithoutLosingAudio() {
    // The whole recording is within the counted-down stretch.
    h->maxDuration = 2.5;
    h->server.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":"ok"})"));
    const auto delegate = h->launch();
    const ExplanationViewModel& viewModel = delegate->overlayPanelController()->viewModel();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    QTRY_COMPARE(viewModel.loadingMessage(),
                 std::optional<QString>(QStringLiteral("Listening... (Esc to cancel) \u2014 3 s left")));

    h->mic.handler.fellBack("USB Headset");
    h->mic.push(speech);
    QTRY_VERIFY(viewModel.loadingMessage()->startsWith(
        "USB Headset is not available: recording from the system default\nListening... (Esc to cancel)"));
    QTRY_COMPARE(viewModel.loadingMessage()->right(8), QStringLiteral("1 s left"));

    delegate->transcribeSequence()->stopAndTranscribe();
    QTRY_COMPARE(h->server.requests.size(), 1);
    QCOMPARE(h->server.requests[0].body.size(), qsizetype(2 * speech.size() * sizeof(float)));
}

void TestTranscribeSequence::fullDiskStopsAtOnceAndKeepsWhatWasSaid() {
    h->disk.writesBeforeFull = 1;
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    h->mic.push(speech); // the disk is full now

    // The user learns at once, without pressing again, and the file that could not be completed
    // gives way to one that holds everything said.
    QTRY_COMPARE(overlay.viewModel().state().kind(), ExplanationState::Kind::error);
    QVERIFY(!delegate->transcribeSequence()->isTranscribing());
    // Escape no longer cancels; it dismisses the panel that tells of the failure.
    QVERIFY(!delegate->cancelShortcutService()->isRegistered());
    QCOMPARE(recordings(), QStringList());
    QCOMPARE(kept().size(), 1);
    const QString path = tempDir.filePath(kept().constFirst());
    QCOMPARE(overlay.viewModel().state().text(),
             "The recording could not be saved: No space left on device\nWhat was recorded is kept in " +
                 path);
    QCOMPARE(QFileInfo(path).size(), 44 + 4 * qint64(speech.size()));
    QVERIFY(overlay.panel()->isVisible());
    QTest::qWait(30);
    QCOMPARE(h->server.requests.size(), 0);
    QVERIFY(h->keys.posted.isEmpty());
}

void TestTranscribeSequence::failedUploadKeepsTheRecordingAndSaysWhere() {
    h->server.enqueue(ScriptedReply::status(503, "application/json").write("{}"));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QTRY_COMPARE(overlay.viewModel().state().kind(), ExplanationState::Kind::error);
    QCOMPARE(recordings(), QStringList());
    QCOMPARE(kept().size(), 1);
    const QString path = tempDir.filePath(kept().constFirst());
    QVERIFY2(overlay.viewModel().state().text().endsWith("\nThe recording is kept in " + path),
             qPrintable(overlay.viewModel().state().text()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), h->server.requests[0].body);
    // It stays on screen until the user has read where the recording is.
    QVERIFY(!overlay.isDismissPending());
}

void TestTranscribeSequence::deliveredTranscriptLeavesThePanelAlone() {
    QString transcript;
    for (int i = 0; i < 40; ++i)
        transcript += QStringLiteral("A sentence long enough to wrap across the panel. ");
    h->server.enqueue(ScriptedReply::status(200, "application/json")
                          .write(QJsonDocument(QJsonObject{{"text", transcript}}).toJson()));
    const auto delegate = h->launch();
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    delegate->transcribeSequence()->toggleTranscription();
    h->mic.push(speech);
    delegate->transcribeSequence()->toggleTranscription();
    QVERIFY(overlay.panel()->isVisible());
    const QRect transcribing = overlay.panel()->cardGeometry();
    QTRY_VERIFY(!overlay.panel()->isVisible());
    QTest::qWait(300); // longer than a resize animation
    QCOMPARE(overlay.panel()->cardGeometry(), transcribing);
    QTRY_COMPARE(h->clipboard.text(), std::optional<QString>(transcript));
}

QTEST_MAIN(TestTranscribeSequence)
#include "tst_transcribesequence.moc"
