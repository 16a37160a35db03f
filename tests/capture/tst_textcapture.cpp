#include "FakeCapture.h"
#include "capture/TextCaptureService.h"

#include <QTest>
#include <QTimer>
#include <functional>

using namespace quill;
using namespace quill::test;

namespace {

const QByteArray kPng =
    QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000001000000010802000000907753de");

} // namespace

class TestTextCapture : public QObject {
    Q_OBJECT
private slots:
    void init();
    void readsSelectionThroughAccessibility_data();
    void readsSelectionThroughAccessibility();
    void passesTheProcessIdOn();
    void readsOnlyOnceTheShortcutKeyIsReleased();
    void announcedFocusIsReadWhileTheShortcutKeyIsHeld();
    void copyRestoresEveryRealFormatByteForByte();
    void copyWithoutAnAnswerRestoresAndReturnsNone();
    void copyWithAnEmptyClipboardLeavesItEmpty();
    void copyWaitsForTextNotForAnyChange();
    void copyOfPlaceholdersOrWhiteSpaceIsNoSelection();
    void terminalKind_data();
    void terminalKind();
    void terminalsNeverGetAPlainCtrlC();
    void selectionOnlyTerminalsAreReadFromThePrimarySelection();
    void waitsForTheShortcutsModifiersToBeReleased();
    void givesUpWhenAModifierStaysDown();
    void pasteLeavesExactlyTheTextAndPostsCtrlV();
    void pasteInTerminals();
    void pasteWaitsForTheDesktopToTakeUpTheText();
    void noPasteWithoutTheSelection();
    void keptClipboardComesBackAfterTheReadOrTheTimeOut();
    void aClipboardNotSavedWholeIsNeverTaken();
    void aWaitingRestoreCanBeFinishedAtOnce();

private:
    TextCaptureService service();

    FakeAccessibilityReader reader;
    FakeKeys keys;
    FakeWindow window;
    FakeClipboard clipboard;
};

void TestTextCapture::init() {
    reader.answer.reset();
    reader.askedPids.clear();
    reader.announcedAnswer.reset();
    reader.askedAnnouncedPids.clear();
    keys.held = {};
    keys.releaseAfterPolls = -1;
    keys.polls = 0;
    keys.posted.clear();
    keys.keyHeldPolls = 0;
    keys.onPost = nullptr;
    window.names = {"mousepad", "Mousepad"};
    window.holdsSelection = true;
    clipboard.contents.clear();
    clipboard.selection.reset();
    clipboard.writes = 0;
    clipboard.refuseWrites = false;
    clipboard.ownerTimesOut = false;
    clipboard.takeUpPolls = 0;
    clipboard.takeUpPollsLeft = 0;
}

TextCaptureService TestTextCapture::service() {
    TextCaptureService::Timing timing;
    timing.modifierReleaseTimeoutMs = 100;
    timing.modifierPollMs = 1;
    timing.copyTimeoutMs = 100;
    return TextCaptureService(reader, keys, window, clipboard, timing);
}

void TestTextCapture::readsSelectionThroughAccessibility_data() {
    QTest::addColumn<std::optional<FocusedText>>("focused");
    QTest::addColumn<std::optional<QString>>("expected");
    using Text = std::optional<QString>;
    QTest::newRow("no focused element") << std::optional<FocusedText>() << Text();
    QTest::newRow("selected text, untrimmed")
        << std::optional<FocusedText>(FocusedText{QString("  spaced \n"), TextRange{0, 10}, std::nullopt})
        << Text("  spaced \n");
    // Web pages and office documents stand an embedded object's text in with U+FFFC.
    QTest::newRow("object placeholders only")
        << std::optional<FocusedText>(
               FocusedText{QStringLiteral("\ufffc \ufffc\n"), std::nullopt, std::nullopt})
        << Text();
    QTest::newRow("placeholders cut from the value")
        << std::optional<FocusedText>(
               FocusedText{QString(), TextRange{1, 2}, QStringLiteral("a\ufffc\ufffcb")})
        << Text();
    QTest::newRow("text around a placeholder is kept")
        << std::optional<FocusedText>(
               FocusedText{QStringLiteral("see \ufffc here"), std::nullopt, std::nullopt})
        << Text(QStringLiteral("see \ufffc here"));
    QTest::newRow("range path") << std::optional<FocusedText>(
                                       FocusedText{QString(), TextRange{2, 3}, "abcdefg"})
                                << Text("cde");
    QTest::newRow("location past the end starts at the beginning")
        << std::optional<FocusedText>(FocusedText{QString(), TextRange{10, 2}, "abc"}) << Text("ab");
    QTest::newRow("length past the end stops at the end")
        << std::optional<FocusedText>(FocusedText{std::nullopt, TextRange{1, 50}, "abc"}) << Text("bc");
    QTest::newRow("empty range") << std::optional<FocusedText>(
                                        FocusedText{QString(), TextRange{2, 0}, "abcdefg"})
                                 << Text();
    QTest::newRow("no range") << std::optional<FocusedText>(FocusedText{QString(), std::nullopt, "abc"})
                              << Text();
    QTest::newRow("no value") << std::optional<FocusedText>(
                                     FocusedText{QString(), TextRange{0, 1}, std::nullopt})
                              << Text();
    // A thumbs-up with a skin tone is four UTF-16 units; e + combining acute is two.
    QTest::newRow("user-perceived characters")
        << std::optional<FocusedText>(
               FocusedText{QString(), TextRange{1, 2}, QString::fromUtf8("a👍🏽e\u0301x")})
        << Text(QString::fromUtf8("👍🏽e\u0301"));
}

void TestTextCapture::readsSelectionThroughAccessibility() {
    QFETCH(std::optional<FocusedText>, focused);
    QFETCH(std::optional<QString>, expected);
    clipboard.contents = {{"text/plain", "keep"}};
    reader.answer = focused;
    QCOMPARE(service().selectedTextViaAccessibility(), expected);
    QCOMPARE(clipboard.writes, 0);
    QCOMPARE(clipboard.contents.size(), 1);
    QVERIFY(keys.posted.isEmpty());
}

void TestTextCapture::passesTheProcessIdOn() {
    auto capture = service();
    capture.selectedTextViaAccessibility(4242);
    capture.selectedTextViaAccessibility();
    QCOMPARE(reader.askedPids, (QList<qint64>{4242, -1}));
}

void TestTextCapture::copyRestoresEveryRealFormatByteForByte() {
    const QList<ClipboardFormat> before = {
        {"TARGETS", "ignored"}, {"text/plain", "earlier text"},
        {"image/png", kPng},    {"application/x-qt-image", "made up"},
        {"TIMESTAMP", "1234"},  {"MULTIPLE", "x"},
        {"SAVE_TARGETS", "y"},  {"text/html", "<b>earlier</b>"},
        {"empty/format", ""},
    };
    clipboard.contents = before;
    keys.onPost = [this] { clipboard.changeLater({{"text/plain", "  the selection\n"}}); };
    QCOMPARE(service().selectedTextViaCopy(), std::optional<QString>("  the selection\n"));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_C, Qt::ControlModifier}}));
    const QList<ClipboardFormat> expected = {
        {"text/plain", "earlier text"}, {"image/png", kPng}, {"text/html", "<b>earlier</b>"}};
    QCOMPARE(clipboard.contents, expected);
}

void TestTextCapture::copyOfPlaceholdersOrWhiteSpaceIsNoSelection() {
    for (const QString& copied :
         {QStringLiteral("\ufffc"), QStringLiteral(" \n\t"), QStringLiteral("\ufffc\n\ufffc")}) {
        clipboard.contents = {{"text/plain", "earlier"}};
        keys.onPost = [this, copied] { clipboard.changeLater({{"text/plain", copied.toUtf8()}}); };
        QCOMPARE(service().selectedTextViaCopy(), std::nullopt);
        QCOMPARE(clipboard.contents, (QList<ClipboardFormat>{{"text/plain", "earlier"}}));
    }
    window.names = {"xterm", "XTerm"};
    clipboard.selection = QStringLiteral("\ufffc ");
    QCOMPARE(service().selectedTextViaCopy(), std::nullopt);
}

void TestTextCapture::copyWithoutAnAnswerRestoresAndReturnsNone() {
    clipboard.contents = {{"image/png", kPng}};
    QCOMPARE(service().selectedTextViaCopy(), std::nullopt);
    QCOMPARE(keys.posted.size(), 1);
    QCOMPARE(clipboard.contents, (QList<ClipboardFormat>{{"image/png", kPng}}));
}

void TestTextCapture::copyWithAnEmptyClipboardLeavesItEmpty() {
    keys.onPost = [this] { clipboard.changeLater({{"text/plain", "copied"}}); };
    QCOMPARE(service().selectedTextViaCopy(), std::optional<QString>("copied"));
    QVERIFY(clipboard.contents.isEmpty());
    QCOMPARE(clipboard.writes, 0);
}

void TestTextCapture::copyWaitsForTextNotForAnyChange() {
    keys.onPost = [this] {
        clipboard.changeLater({}, 1);
        clipboard.changeLater({{"text/plain", "late"}}, 20);
    };
    TextCaptureService::Timing timing;
    timing.copyTimeoutMs = 60000; // would hang the test if the text's arrival did not end the wait
    QCOMPARE(TextCaptureService(reader, keys, window, clipboard, timing).selectedTextViaCopy(),
             std::optional<QString>("late"));
}

void TestTextCapture::terminalKind_data() {
    QTest::addColumn<QStringList>("applicationNames");
    QTest::addColumn<TerminalKind>("kind");
    QTest::newRow("editor") << QStringList{"mousepad", "Mousepad"} << TerminalKind::none;
    QTest::newRow("nothing active") << QStringList{} << TerminalKind::none;
    QTest::newRow("gnome-terminal") << QStringList{"gnome-terminal-server", "Gnome-terminal"}
                                    << TerminalKind::clipboardKeys;
    QTest::newRow("konsole") << QStringList{"konsole", "konsole"} << TerminalKind::clipboardKeys;
    QTest::newRow("kitty by class") << QStringList{"main", "kitty"} << TerminalKind::clipboardKeys;
    QTest::newRow("wezterm") << QStringList{"org.wezfurlong.wezterm", "org.wezfurlong.wezterm"}
                             << TerminalKind::clipboardKeys;
    QTest::newRow("xterm") << QStringList{"xterm", "XTerm"} << TerminalKind::selectionOnly;
    QTest::newRow("urxvt") << QStringList{"urxvt", "URxvt"} << TerminalKind::selectionOnly;
    QTest::newRow("name containing term")
        << QStringList{"determination", "Determination"} << TerminalKind::none;
}

void TestTextCapture::terminalKind() {
    QFETCH(QStringList, applicationNames);
    QFETCH(TerminalKind, kind);
    QCOMPARE(TextCaptureService::terminalKind(applicationNames), kind);
}

void TestTextCapture::terminalsNeverGetAPlainCtrlC() {
    window.names = {"xfce4-terminal", "Xfce4-terminal"};
    keys.onPost = [this] { clipboard.changeLater({{"text/plain", "ls -l"}}); };
    QCOMPARE(service().selectedTextViaCopy(), std::optional<QString>("ls -l"));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier}}));
}

void TestTextCapture::selectionOnlyTerminalsAreReadFromThePrimarySelection() {
    window.names = {"xterm", "XTerm"};
    clipboard.contents = {{"text/plain", "untouched"}};
    clipboard.selection = QStringLiteral("selected in xterm");
    QCOMPARE(service().selectedTextViaCopy(), std::optional<QString>("selected in xterm"));
    QVERIFY(keys.posted.isEmpty());
    QCOMPARE(clipboard.writes, 0);
    QCOMPARE(clipboard.contents, (QList<ClipboardFormat>{{"text/plain", "untouched"}}));

    // Selected in another window after the terminal's own selection went away.
    window.holdsSelection = false;
    QCOMPARE(service().selectedTextViaCopy(), std::nullopt);
}

void TestTextCapture::waitsForTheShortcutsModifiersToBeReleased() {
    keys.held = Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier;
    keys.releaseAfterPolls = 5;
    keys.onPost = [this] {
        QVERIFY(!(keys.held & ~Qt::KeyboardModifiers(Qt::ControlModifier)));
        clipboard.changeLater({{"text/plain", "text"}});
    };
    QCOMPARE(service().selectedTextViaCopy(), std::optional<QString>("text"));
    QCOMPARE(keys.posted.size(), 1);
    QVERIFY(keys.polls > 5);
}

void TestTextCapture::givesUpWhenAModifierStaysDown() {
    keys.held = Qt::ControlModifier | Qt::ShiftModifier;
    clipboard.contents = {{"text/plain", "earlier"}};
    auto capture = service();
    QCOMPARE(capture.selectedTextViaCopy(), std::nullopt);
    QVERIFY(keys.posted.isEmpty());
    QCOMPARE(clipboard.contents, (QList<ClipboardFormat>{{"text/plain", "earlier"}}));
    QCOMPARE(clipboard.writes, 0);

    // Ctrl alone is the shortcut's own key: the copy goes ahead while it is held.
    keys.held = Qt::ControlModifier;
    keys.onPost = [this] { clipboard.changeLater({{"text/plain", "now"}}); };
    QCOMPARE(capture.selectedTextViaCopy(), std::optional<QString>("now"));
}

void TestTextCapture::pasteLeavesExactlyTheTextAndPostsCtrlV() {
    clipboard.contents = {{"image/png", kPng}, {"text/plain", "earlier"}};
    service().pasteText(QStringLiteral("pasted ✓"));
    QCOMPARE(clipboard.contents, (QList<ClipboardFormat>{{"text/plain", QString("pasted ✓").toUtf8()}}));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_V, Qt::ControlModifier}}));
}

void TestTextCapture::pasteInTerminals() {
    window.names = {"kitty", "kitty"};
    service().pasteText(QStringLiteral("echo hi"));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier}}));

    keys.posted.clear();
    window.names = {"xterm", "XTerm"};
    service().pasteText(QStringLiteral("echo hi"));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_Insert, Qt::ShiftModifier}}));
    QCOMPARE(clipboard.selection, std::optional<QString>("echo hi"));
    QCOMPARE(clipboard.text(), std::optional<QString>("echo hi"));
}

void TestTextCapture::pasteWaitsForTheDesktopToTakeUpTheText() {
    clipboard.takeUpPolls = 5;
    keys.onPost = [this] { QCOMPARE(clipboard.takeUpPollsLeft, -1); };
    service().pasteText(QStringLiteral("taken up"));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_V, Qt::ControlModifier}}));

    // A desktop that never does still gets the key, once the wait is over.
    keys.posted.clear();
    clipboard.takeUpPolls = 1000000;
    keys.onPost = {};
    service().pasteText(QStringLiteral("not taken up"));
    QCOMPARE(keys.posted, (QList<PostedKey>{{Qt::Key_V, Qt::ControlModifier}}));
    QCOMPARE(clipboard.text(), std::optional<QString>("not taken up"));
}

void TestTextCapture::noPasteWithoutTheSelection() {
    clipboard.refuseWrites = true;
    clipboard.selection = QStringLiteral("rm -rf ~\n");
    window.names = {"xterm", "XTerm"};
    service().pasteText(QStringLiteral("echo hi"));
    window.names = {"mousepad", "Mousepad"};
    service().pasteText(QStringLiteral("echo hi"));
    QVERIFY(keys.posted.isEmpty());
}

void TestTextCapture::readsOnlyOnceTheShortcutKeyIsReleased() {
    reader.answer = FocusedText{QStringLiteral("word"), std::nullopt, std::nullopt};
    keys.keyHeldPolls = 5;
    auto capture = service();
    QCOMPARE(capture.selectedTextViaAccessibility(), std::optional<QString>("word"));
    QCOMPARE(keys.keyHeldPolls, -1); // polled until the key was up, then read once
    QCOMPARE(reader.askedPids.size(), 1);

    // A key held past the time-out still gets an answer rather than none.
    keys.keyHeldPolls = 1'000'000;
    QCOMPARE(capture.selectedTextViaAccessibility(), std::optional<QString>("word"));
}

void TestTextCapture::announcedFocusIsReadWhileTheShortcutKeyIsHeld() {
    reader.announcedAnswer = FocusedText{QStringLiteral("word"), std::nullopt, std::nullopt};
    reader.answer = FocusedText{QStringLiteral("found by a full read"), std::nullopt, std::nullopt};
    keys.keyHeldPolls = 1'000'000;
    auto capture = service();
    QCOMPARE(capture.selectedTextViaAccessibility(42), std::optional<QString>("word"));
    QCOMPARE(reader.askedAnnouncedPids, QList<qint64>{42});
    QVERIFY(reader.askedPids.isEmpty());
    QCOMPARE(keys.keyHeldPolls, 999'999); // no wait for the release

    // Focus announced only a few reads into the hold (GTK 4 tells the focus it loses to the
    // grab, not the one it had): read then, still without waiting for the release.
    reader.askedAnnouncedPids.clear();
    reader.silentAnnouncedReads = 3;
    QCOMPARE(capture.selectedTextViaAccessibility(42), std::optional<QString>("word"));
    QCOMPARE(reader.askedAnnouncedPids.size(), 4);
    QVERIFY(reader.askedPids.isEmpty());
    QCOMPARE(keys.keyHeldPolls, 999'999 - 4);
    reader.silentAnnouncedReads = 0;

    // Nothing readable where focus was announced: the full read follows the release.
    reader.announcedAnswer = FocusedText{QString(QChar(0xFFFC)), std::nullopt, std::nullopt};
    keys.keyHeldPolls = 3;
    QCOMPARE(capture.selectedTextViaAccessibility(42), std::optional<QString>("found by a full read"));
    QCOMPARE(keys.keyHeldPolls, -1);
    QCOMPARE(reader.askedPids, QList<qint64>{42});

    // No key held (an action over D-Bus, a desktop that sends the press alone): one full read.
    reader.askedAnnouncedPids.clear();
    reader.askedPids.clear();
    keys.keyHeldPolls = 0;
    QCOMPARE(capture.selectedTextViaAccessibility(42), std::optional<QString>("found by a full read"));
    QVERIFY(reader.askedAnnouncedPids.isEmpty());
    QCOMPARE(reader.askedPids, QList<qint64>{42});
}

void TestTextCapture::keptClipboardComesBackAfterTheReadOrTheTimeOut() {
    const QList<ClipboardFormat> earlier{{"image/png", kPng}, {"text/plain", "caption"}};
    clipboard.contents = earlier;
    TextCaptureService capture(reader, keys, window, clipboard, {50, 5, 50, 150, 20});

    // Two pastes back to back: the second must not keep the first one's text as "earlier".
    capture.pasteTextKeepingClipboard("one");
    capture.pasteTextKeepingClipboard("two");
    QCOMPARE(keys.posted.size(), 2);
    QCOMPARE(clipboard.text(), std::optional<QString>("two"));
    clipboard.readByOtherProgram();
    QTRY_COMPARE(clipboard.contents, earlier);

    // An application that never reads: back after the time-out all the same.
    capture.pasteTextKeepingClipboard("unread");
    QCOMPARE(clipboard.text(), std::optional<QString>("unread"));
    QTRY_COMPARE(clipboard.contents, earlier);

    // A plain paste while a restore waits leaves its text in place.
    capture.pasteTextKeepingClipboard("kept");
    capture.pasteText("left");
    QTest::qWait(200);
    QCOMPARE(clipboard.text(), std::optional<QString>("left"));
}

void TestTextCapture::aClipboardNotSavedWholeIsNeverTaken() {
    const QList<ClipboardFormat> earlier{{"text/plain", "caption"}, {"image/png", QByteArray(64, 'p')}};
    TextCaptureService::Timing timing;
    timing.modifierReleaseTimeoutMs = 100;
    timing.copyTimeoutMs = 100;
    timing.saveLimits.maxFormatBytes = 32;
    const auto check = [&](const char* what) {
        qInfo() << what;
        clipboard.contents = earlier;
        clipboard.writes = 0;
        keys.posted.clear();
        keys.onPost = [this] { clipboard.changeLater({{"text/plain", "selection"}}); };
        TextCaptureService capture(reader, keys, window, clipboard, timing);
        QCOMPARE(capture.selectedTextViaCopy(), std::nullopt);
        QCOMPARE(capture.pasteTextKeepingClipboard("transcript"), KeptPaste::clipboardInUse);
        QVERIFY(keys.posted.isEmpty());
        QCOMPARE(clipboard.writes, 0);
        QCOMPARE(clipboard.contents, earlier);
    };
    check("a format over the cap");
    timing.saveLimits = {};
    clipboard.ownerTimesOut = true;
    check("an owner that does not answer in time");
}

void TestTextCapture::aWaitingRestoreCanBeFinishedAtOnce() {
    const QList<ClipboardFormat> earlier{{"text/plain", "caption"}};
    clipboard.contents = earlier;
    TextCaptureService capture(reader, keys, window, clipboard, {50, 5, 50, 60000, 20});
    QCOMPARE(capture.pasteTextKeepingClipboard("transcript"), KeptPaste::pasted);
    QCOMPARE(clipboard.text(), std::optional<QString>("transcript"));
    capture.finishPendingRestore();
    QCOMPARE(clipboard.contents, earlier);
    // Nothing waits any more: a second call must not take what was copied since.
    clipboard.contents = {{"text/plain", "newer"}};
    capture.finishPendingRestore();
    QCOMPARE(clipboard.text(), std::optional<QString>("newer"));
}

QTEST_GUILESS_MAIN(TestTextCapture)
#include "tst_textcapture.moc"
