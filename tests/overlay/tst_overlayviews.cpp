#include "overlay/ActionBar.h"
#include "overlay/AudioLevelIndicator.h"
#include "overlay/CodeBlockView.h"
#include "overlay/Divider.h"
#include "overlay/ErrorView.h"
#include "overlay/ExplanationView.h"
#include "overlay/LoadingView.h"
#include "overlay/MarkdownDocumentStyle.h"
#include "overlay/MarkdownSegments.h"
#include "overlay/MarkdownTextView.h"
#include "overlay/MarkdownView.h"
#include "overlay/OverlayButtons.h"
#include "overlay/OverlayStyle.h"
#include "overlay/SpinnerView.h"
#include "overlay/TextContent.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QMap>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextList>
#include <QTextTable>
#include <QUrl>

using namespace quill;

class TestOverlayViews : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void resetAssignsEveryFieldInOrderAndNotifies();
    void loadingRowFollowsMode_data();
    void loadingRowFollowsMode();
    void levelMeterLightsBarsAboveThresholds_data();
    void levelMeterLightsBarsAboveThresholds();
    void contentShowsActionRowForItsMode_data();
    void contentShowsActionRowForItsMode();
    void detailShowsOnlyWhenExpandedAndPresent();
    void errorShowsMessageWithoutActionRow();
    void copyTextRule_data();
    void copyTextRule();
    void copyPutsTextOnClipboardAndShowsCopiedForAWhile();
    void copiedDoesNotCarryOverToANewRow();
    void moreFetchesDetailOnlyWhenNoneExists();
    void lessKeepsDetailForTheNextMore();
    void pastePassesOnlyTheMainText();
    void aLongResultIsShownInPartAndCopiedWhole();
    void dismissButtonExplainsEsc();
    void streamedMarkdownShowsWhatAWholeParseShows_data();
    void streamedMarkdownShowsWhatAWholeParseShows();
    void htmlAndImagesInTheTextStayText();
    void scrollAreaKeepsItsAccessibleChildrenWhileTheTextChanges();
    void fencedCodeAtTheMarginBecomesBlocks_data();
    void fencedCodeAtTheMarginBecomesBlocks();
    void codeStandsApartAndCopiesExactlyTheCode();
    void longCodeLinesScrollInsteadOfWrapping();
    void tableCellsOfARowLineUp();
    void codeIsReadableInBothPalettesAndFollowsAChange();
    void codeInListsQuotesAndIndentedIsTakenOut_data();
    void codeInListsQuotesAndIndentedIsTakenOut();
    void codeInListsAndQuotesIsSetApartAsAtTheMargin();
    void streamedCodeInListsShowsWhatAWholeRenderShows();
    void linksOpenInTheBrowserOnlyForWebAndMail();
    void streamingNeverMovesWhatIsShown();
    void levelMeterRepaintsOnlyTheBarsThatChange();
    void partialRepaintsDrawWhatAWholePaintDraws();
    void levelMeterEndsAtItsLevelInAFewFrames();

public slots:
    void openUrl(const QUrl& url) { openedUrls << url; }

private:
    bool shown(QWidget* widget) const { return !widget->isHidden(); }

    ExplanationViewModel* model = nullptr;
    ExplanationView* view = nullptr;
    int fetches = 0;
    int dismissals = 0;
    QStringList pastes;
    QList<QUrl> openedUrls;
};

void TestOverlayViews::init() {
    fetches = dismissals = 0;
    pastes.clear();
    model = new ExplanationViewModel;
    view = new ExplanationView(*model);
    connect(view, &ExplanationView::dismissRequested, this, [this] { ++dismissals; });
    connect(view, &ExplanationView::detailRequested, this, [this] { ++fetches; });
    connect(view, &ExplanationView::pasteRequested, this, [this](const QString& text) { pastes << text; });
    view->textContent()->setRevealDuration(0);
    view->resize(380, 300);
    view->show();
}

void TestOverlayViews::cleanup() {
    delete view;
    delete model;
}

void TestOverlayViews::resetAssignsEveryFieldInOrderAndNotifies() {
    QStringList order;
    const auto record = [&](const char* name) {
        return [&order, name] { order << QString::fromLatin1(name); };
    };
    connect(model, &ExplanationViewModel::stateChanged, this, record("state"));
    connect(model, &ExplanationViewModel::detailedTextChanged, this, record("detailedText"));
    connect(model, &ExplanationViewModel::isExpandedChanged, this, record("isExpanded"));
    connect(model, &ExplanationViewModel::isLoadingDetailChanged, this, record("isLoadingDetail"));
    connect(model, &ExplanationViewModel::loadingMessageChanged, this, record("loadingMessage"));
    connect(model, &ExplanationViewModel::modeChanged, this, record("mode"));
    connect(model, &ExplanationViewModel::audioLevelChanged, this, record("audioLevel"));

    model->reset(); // unchanged values notify too
    const QStringList expected{"state",          "detailedText", "isExpanded", "isLoadingDetail",
                               "loadingMessage", "mode",         "audioLevel"};
    QCOMPARE(order, expected);

    model->setState(ExplanationState::content(QStringLiteral("a")));
    model->setDetailedText(QStringLiteral("b"));
    model->setIsExpanded(true);
    model->setIsLoadingDetail(true);
    model->setLoadingMessage(QStringLiteral("m"));
    model->setMode(ViewMode::transcribe);
    model->setAudioLevel(0.5f);
    model->reset();
    const ExplanationViewModel fresh;
    QVERIFY(model->state() == fresh.state());
    QCOMPARE(model->state().kind(), ExplanationState::Kind::idle);
    QCOMPARE(model->detailedText(), fresh.detailedText());
    QCOMPARE(model->isExpanded(), false);
    QCOMPARE(model->isLoadingDetail(), false);
    QCOMPARE(model->loadingMessage(), std::optional<QString>());
    QCOMPARE(model->mode(), ViewMode::explain);
    QCOMPARE(model->audioLevel(), 0.0f);
    QVERIFY(!(ExplanationState::content("a") == ExplanationState::error("a")));
    QVERIFY(!(ExplanationState::error("a") == ExplanationState::error("b")));
}

void TestOverlayViews::loadingRowFollowsMode_data() {
    QTest::addColumn<ViewMode>("mode");
    QTest::addColumn<std::optional<QString>>("message");
    QTest::addColumn<QString>("shownText");
    QTest::addColumn<bool>("meter");
    QTest::newRow("explain, default text")
        << ViewMode::explain << std::optional<QString>() << QStringLiteral("Analyzing...") << false;
    QTest::newRow("upload after reset") << ViewMode::explain << std::optional<QString>("Transcribing...")
                                        << QStringLiteral("Transcribing...") << false;
    QTest::newRow("recording") << ViewMode::transcribe
                               << std::optional<QString>("Listening... (Esc to cancel)")
                               << QStringLiteral("Listening... (Esc to cancel)") << true;
    QTest::newRow("transcribe, default text")
        << ViewMode::transcribe << std::optional<QString>() << QStringLiteral("Analyzing...") << true;
}

void TestOverlayViews::loadingRowFollowsMode() {
    QFETCH(ViewMode, mode);
    QFETCH(std::optional<QString>, message);
    model->setMode(mode);
    model->setState(ExplanationState::loading());
    model->setLoadingMessage(message);
    model->setAudioLevel(0.65f);
    LoadingView* loading = view->loadingView();
    QVERIFY(shown(loading));
    QVERIFY(!shown(view->textContent()) && !shown(view->errorView()) && !shown(view->actionBar()));
    QTEST(loading->messageText(), "shownText");
    QTEST(shown(loading->levelIndicator()), "meter");
    QCOMPARE(shown(loading->spinner()), !shown(loading->levelIndicator()));
    QCOMPARE(loading->spinner()->scale(), 0.8);
    // The level is only read in transcribe mode.
    QCOMPARE(loading->levelIndicator()->level(), mode == ViewMode::transcribe ? 0.65f : 0.0f);
}

void TestOverlayViews::levelMeterLightsBarsAboveThresholds_data() {
    QTest::addColumn<float>("level");
    QTest::addColumn<QList<int>>("heights");
    QTest::newRow("silence") << 0.0f << QList<int>{4, 4, 4, 4, 4};
    QTest::newRow("just above zero") << 0.01f << QList<int>{8, 4, 4, 4, 4};
    QTest::newRow("exactly a threshold") << 0.2f << QList<int>{8, 4, 4, 4, 4};
    QTest::newRow("half") << 0.5f << QList<int>{8, 10, 12, 4, 4};
    QTest::newRow("0.65") << 0.65f << QList<int>{8, 10, 12, 14, 4};
    QTest::newRow("full") << 1.0f << QList<int>{8, 10, 12, 14, 16};
}

void TestOverlayViews::levelMeterLightsBarsAboveThresholds() {
    QFETCH(float, level);
    QFETCH(QList<int>, heights);
    AudioLevelIndicator meter(5);
    QCOMPARE(meter.size(), QSize(24, 20));
    meter.setLevel(level);
    QList<int> actual;
    for (int i = 0; i < meter.barCount(); ++i) {
        actual << meter.barHeight(i);
        QCOMPARE(meter.isLit(i), heights[i] != 4);
    }
    QCOMPARE(actual, heights);
}

void TestOverlayViews::contentShowsActionRowForItsMode_data() {
    QTest::addColumn<ViewMode>("mode");
    QTest::addColumn<bool>("loadingDetail");
    QTest::addColumn<bool>("more");
    QTest::addColumn<bool>("spinner");
    QTest::addColumn<bool>("paste");
    QTest::newRow("explain") << ViewMode::explain << false << true << false << false;
    QTest::newRow("explain, loading detail") << ViewMode::explain << true << false << true << false;
    QTest::newRow("transcribe") << ViewMode::transcribe << false << false << false << true;
}

void TestOverlayViews::contentShowsActionRowForItsMode() {
    QFETCH(ViewMode, mode);
    QFETCH(bool, loadingDetail);
    model->setMode(mode);
    model->setIsLoadingDetail(loadingDetail);
    model->setState(ExplanationState::content(QStringLiteral("**Bold** text")));
    ActionBar* bar = view->actionBar();
    QVERIFY(shown(view->textContent()) && shown(bar) && shown(view->actionDivider()));
    QVERIFY(!shown(view->loadingView()) && !shown(view->errorView()));
    QTEST(shown(bar->moreButton()), "more");
    QTEST(shown(bar->detailSpinner()), "spinner");
    QTEST(shown(bar->pasteButton()), "paste");
    QVERIFY(shown(bar->copyButton()));
    QCOMPARE(bar->copyButton()->text(), QStringLiteral("Copy"));
    QCOMPARE(bar->pasteButton()->text(), QStringLiteral("Paste"));
    QCOMPARE(bar->detailSpinner()->scale(), 0.6);
    QCOMPARE(bar->moreButton()->text(), QStringLiteral("more"));
    // Rendered as Markdown and selectable.
    MarkdownView* text = view->textContent()->textView();
    QCOMPARE(text->toPlainText(), QStringLiteral("Bold text"));
    QCOMPARE(text->parts().size(), 1);
    QVERIFY(qobject_cast<MarkdownTextView*>(text->parts().first())->textInteractionFlags() &
            Qt::TextSelectableByMouse);
}

void TestOverlayViews::detailShowsOnlyWhenExpandedAndPresent() {
    model->setState(ExplanationState::content(QStringLiteral("A")));
    model->setIsExpanded(true);
    QVERIFY(!view->textContent()->isDetailShown());
    QCOMPARE(view->actionBar()->moreButton()->text(), QStringLiteral("less"));
    model->setDetailedText(QStringLiteral("# Detail\n\n- one"));
    QVERIFY(view->textContent()->isDetailShown());
    QCOMPARE(view->textContent()->detailView()->toPlainText(), QStringLiteral("Detail\none"));
    model->setIsExpanded(false);
    QVERIFY(!view->textContent()->isDetailShown());
}

void TestOverlayViews::errorShowsMessageWithoutActionRow() {
    model->setMode(ViewMode::transcribe);
    model->setState(ExplanationState::content(QStringLiteral("A")));
    model->setState(ExplanationState::error(QStringLiteral("No response received")));
    QVERIFY(shown(view->errorView()));
    QCOMPARE(view->errorView()->message(), QStringLiteral("No response received"));
    QVERIFY(!shown(view->actionBar()) && !shown(view->actionDivider()) && !shown(view->textContent()));
    model->setState(ExplanationState::idle());
    QVERIFY(!shown(view->errorView()) && !shown(view->loadingView()) && !shown(view->textContent()));
}

void TestOverlayViews::copyTextRule_data() {
    QTest::addColumn<bool>("expanded");
    QTest::addColumn<std::optional<QString>>("detail");
    QTest::addColumn<QString>("expected");
    QTest::newRow("collapsed") << false << std::optional<QString>("B") << QStringLiteral("A");
    QTest::newRow("expanded") << true << std::optional<QString>("B") << QStringLiteral("A\n\nB");
    QTest::newRow("expanded, no detail yet") << true << std::optional<QString>() << QStringLiteral("A\n\n");
}

void TestOverlayViews::copyTextRule() {
    QFETCH(bool, expanded);
    QFETCH(std::optional<QString>, detail);
    model->setState(ExplanationState::content(QStringLiteral("A")));
    model->setDetailedText(detail);
    model->setIsExpanded(expanded);
    QTEST(copyText(*model), "expected");
}

void TestOverlayViews::copyPutsTextOnClipboardAndShowsCopiedForAWhile() {
    ActionBar* bar = view->actionBar();
    bar->setCopiedDuration(100);
    model->setState(ExplanationState::content(QStringLiteral("A")));
    model->setDetailedText(QStringLiteral("B"));
    model->setIsExpanded(true);
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("A\n\nB"));
    QCOMPARE(bar->copyButton()->text(), QStringLiteral("Copied!"));
    QTest::qWait(50);
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    // The first Copy's return to "Copy" still counts.
    QTRY_COMPARE_WITH_TIMEOUT(bar->copyButton()->text(), QStringLiteral("Copy"), 90);
}

void TestOverlayViews::copiedDoesNotCarryOverToANewRow() {
    ActionBar* bar = view->actionBar();
    bar->setCopiedDuration(60);
    model->setState(ExplanationState::content(QStringLiteral("A")));
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    QVERIFY(bar->copied());
    model->reset();
    model->setState(ExplanationState::content(QStringLiteral("C")));
    QVERIFY(!bar->copied());
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    // A second Copy within the first one's time does not put off its end.
    bar->setCopiedDuration(60000);
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!bar->copied(), 30000);
}

void TestOverlayViews::moreFetchesDetailOnlyWhenNoneExists() {
    model->setState(ExplanationState::content(QStringLiteral("A")));
    // The application answers a fetch by starting the request; the view expands at once.
    QTest::mouseClick(view->actionBar()->moreButton(), Qt::LeftButton);
    QCOMPARE(fetches, 1);
    QVERIFY(model->isExpanded());

    model->setIsExpanded(false);
    model->setDetailedText(QStringLiteral("B"));
    QTest::mouseClick(view->actionBar()->moreButton(), Qt::LeftButton);
    QCOMPARE(fetches, 1);
    QVERIFY(model->isExpanded());
    QVERIFY(view->textContent()->isDetailShown());
}

void TestOverlayViews::lessKeepsDetailForTheNextMore() {
    model->setState(ExplanationState::content(QStringLiteral("A")));
    model->setDetailedText(QStringLiteral("B"));
    model->setIsExpanded(true);
    QTest::mouseClick(view->actionBar()->moreButton(), Qt::LeftButton);
    QVERIFY(!model->isExpanded());
    QCOMPARE(model->detailedText(), std::optional<QString>("B"));
    QCOMPARE(view->actionBar()->moreButton()->text(), QStringLiteral("more"));
    QTest::mouseClick(view->actionBar()->moreButton(), Qt::LeftButton);
    QCOMPARE(fetches, 0);
}

void TestOverlayViews::aLongResultIsShownInPartAndCopiedWhole() {
    // An unbroken run far longer than a line, then more than the panel lays out, with an emoji
    // whose two halves straddle the bound.
    QString text = QString(1000, u'x') + u' ';
    while (text.size() < 19'999)
        text += QStringLiteral("word ");
    text.truncate(19'999);
    text += QStringLiteral("\U0001F600") + QString(30'000, u'y');
    model->setState(ExplanationState::content(text));

    const QString shown = view->textContent()->textView()->toPlainText();
    const QString tail = QStringLiteral("%1 more characters not shown").arg(text.size() - 19'999);
    QVERIFY2(shown.endsWith(tail), qPrintable(shown.right(80)));
    QVERIFY(shown.size() < 21'000);
    QVERIFY(!shown.contains(QChar(0xD83D)));
    qsizetype run = 0;
    qsizetype longest = 0;
    for (const QChar c : shown) {
        run = c.isSpace() || c == QChar(0x200B) ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    QVERIFY2(longest <= 400, qPrintable(QString::number(longest)));

    QTest::mouseClick(view->actionBar()->copyButton(), Qt::LeftButton);
    QCOMPARE(QApplication::clipboard()->text(), text);
}

void TestOverlayViews::pastePassesOnlyTheMainText() {
    model->setMode(ViewMode::transcribe);
    model->setState(ExplanationState::content(QStringLiteral("A")));
    model->setDetailedText(QStringLiteral("B"));
    model->setIsExpanded(true);
    QTest::mouseClick(view->actionBar()->pasteButton(), Qt::LeftButton);
    QCOMPARE(pastes, QStringList{QStringLiteral("A")});
}

void TestOverlayViews::dismissButtonExplainsEsc() {
    QCOMPARE(view->titleLabel()->text(), QStringLiteral("Quillpoint"));
    QCOMPARE(view->dismissButton()->toolTip(), QStringLiteral("Dismiss (Esc)"));
    QTest::mouseClick(view->dismissButton(), Qt::LeftButton);
    QCOMPARE(dismissals, 1);
}

void TestOverlayViews::streamedMarkdownShowsWhatAWholeParseShows_data() {
    QTest::addColumn<QString>("markdown");
    QTest::newRow("sections") << QStringLiteral(
        "## Reading\n\nThe loader reads **settings.toml** first,\nthen the *environment*.\n\n"
        "- `timeout` limits\n- `retries` counts\n\n  continued item\n\nAfter the list.\n\n"
        "```python\nconfig = load()\n\nfor key in keys:\n    use(key)\n```\n\n"
        "1. Check.\n2. Parse.\n\n10. Late item\n\nTitle\n=====\n\n> quoted\n\nlazy\n\n"
        "| a | b |\n|---|---|\n| 1 | 2 |\n\nEnd with `code");
    QTest::newRow("link defined later")
        << QStringLiteral("See [the docs][d].\n\nMore text.\n\n[d]: https://example.org\n");
    QTest::newRow("unclosed fence") << QStringLiteral(
        "Intro\n\n```\ncode\n\nParagraph-like code\n\nstill code");
}

void TestOverlayViews::streamedMarkdownShowsWhatAWholeParseShows() {
    QFETCH(QString, markdown);
    MarkdownTextView streamed(QApplication::font(), 4);
    for (qsizetype end = 1; end <= markdown.size(); end += 3) {
        const QString text = markdown.left(end);
        streamed.setMarkdown(text);
        QTextDocument whole;
        whole.setDefaultFont(QApplication::font());
        whole.setDocumentMargin(0);
        whole.setIndentWidth(streamed.document()->indentWidth());
        whole.setMarkdown(text, QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub |
                                                                QTextDocument::MarkdownNoHTML));
        applyMarkdownStyle(whole, streamed.palette(), QApplication::font());
        QTextCursor all(&whole);
        all.select(QTextCursor::Document);
        QTextBlockFormat spacing;
        spacing.setLineHeight(4, QTextBlockFormat::LineDistanceHeight);
        all.mergeBlockFormat(spacing);
        QCOMPARE(streamed.document()->toHtml(), whole.toHtml());
    }
}

void TestOverlayViews::htmlAndImagesInTheTextStayText() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QImage red(60, 60, QImage::Format_RGB32);
    red.fill(Qt::red);
    const QString image = dir.filePath(QStringLiteral("red.png"));
    QVERIFY(red.save(image));
    const QString url = QUrl::fromLocalFile(image).toString();

    MarkdownTextView view(QApplication::font(), 4);
    view.resize(380, 400);
    view.show();
    view.setMarkdown(QStringLiteral("Before <span style=\"font-size:72pt\">huge</span> after\n\n"
                                    "<div><img src=\"%1\"></div>\n\n![a red square](%1)\n\n"
                                    "<style>p { font-size: 72pt }</style>\n\nEnd.")
                         .arg(url));
    const QString shown = view.document()->toPlainText();
    QVERIFY2(shown.contains(QStringLiteral("<span style=\"font-size:72pt\">huge</span>")), qPrintable(shown));
    QVERIFY(shown.contains(QStringLiteral("a red square")));
    QVERIFY(shown.contains(QStringLiteral("<style>")));
    for (QTextBlock block = view.document()->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QVERIFY(!it.fragment().charFormat().isImageFormat());
            QVERIFY(it.fragment().charFormat().fontPointSize() < 30);
        }
    }
    const QImage drawn = view.grab().toImage();
    for (int y = 0; y < drawn.height(); ++y) {
        for (int x = 0; x < drawn.width(); ++x)
            QVERIFY2(drawn.pixelColor(x, y) != QColor(Qt::red), "the local image was drawn");
    }
}

void TestOverlayViews::scrollAreaKeepsItsAccessibleChildrenWhileTheTextChanges() {
    // An assistive technology counts the children and then asks for each by index, while the
    // scroll bar comes and goes with the length of the streamed text.
    QStringList paragraphs;
    for (int i = 0; i < 40; ++i)
        paragraphs << QStringLiteral("Paragraph %1 of a long answer.").arg(i);
    QAccessibleInterface* scroll = QAccessible::queryAccessibleInterface(view->scrollArea());
    QVERIFY(scroll);
    QScrollBar* bar = view->scrollArea()->verticalScrollBar();
    model->setState(ExplanationState::content(paragraphs.join(QStringLiteral("\n\n"))));
    QTRY_VERIFY(bar->isVisible());
    const int counted = scroll->childCount();
    QVERIFY(counted > 0);
    model->setState(ExplanationState::content(QStringLiteral("Short.")));
    QTRY_VERIFY(!bar->isVisible());
    QCOMPARE(scroll->childCount(), counted);
    for (int i = 0; i < counted; ++i)
        QVERIFY(scroll->child(i) && scroll->child(i)->isValid());
    model->setState(ExplanationState::error(QStringLiteral("No response received")));
    QCOMPARE(scroll->childCount(), counted);
}

void TestOverlayViews::fencedCodeAtTheMarginBecomesBlocks_data() {
    using K = MarkdownSegment::Kind;
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QList<MarkdownSegment>>("segments");
    QTest::newRow("prose, code, prose")
        << QStringLiteral("Run:\n\n```bash title\nmake\n\n\tmake install\n```\n\nDone.")
        << QList<MarkdownSegment>{{K::prose, QStringLiteral("Run:\n\n"), {}},
                                  {K::code, QStringLiteral("make\n\n\tmake install"), QStringLiteral("bash")},
                                  {K::prose, QStringLiteral("\nDone."), {}}};
    QTest::newRow("tildes, a longer closing fence, blank prose between")
        << QStringLiteral("~~~~\n~~~\n~~~~~\n\n```\nb\n```")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("~~~"), {}}, {K::code, QStringLiteral("b"), {}}};
    QTest::newRow("code in a list stays prose")
        << QStringLiteral("1. Run:\n   ```\n   make\n   ```\n2. Test")
        << QList<MarkdownSegment>{
               {K::prose, QStringLiteral("1. Run:\n   ```\n   make\n   ```\n2. Test"), {}}};
    QTest::newRow("inline backticks are no fence")
        << QStringLiteral("```a``` b") << QList<MarkdownSegment>{{K::prose, QStringLiteral("```a``` b"), {}}};
    QTest::newRow("unclosed fence runs to the end")
        << QStringLiteral("```py\nx = 1\n``")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("x = 1\n``"), QStringLiteral("py")}};
}

void TestOverlayViews::fencedCodeAtTheMarginBecomesBlocks() {
    QFETCH(QString, markdown);
    QFETCH(QList<MarkdownSegment>, segments);
    const QList<MarkdownSegment> actual = splitMarkdownSegments(markdown);
    QCOMPARE(actual.size(), segments.size());
    for (qsizetype i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual[i].kind, segments[i].kind);
        QCOMPARE(actual[i].text, segments[i].text);
        QCOMPARE(actual[i].language, segments[i].language);
    }
}

namespace {

// The first fragment whose text is `text`, in any prose part of `view`.
std::optional<QTextCharFormat> formatOf(const MarkdownView& view, const QString& text) {
    for (QWidget* part : view.parts()) {
        auto* prose = qobject_cast<MarkdownTextView*>(part);
        if (!prose)
            continue;
        for (QTextBlock block = prose->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                if (it.fragment().text() == text)
                    return it.fragment().charFormat();
            }
        }
    }
    return std::nullopt;
}

// Contrast ratio of two opaque colours, as the web's accessibility guidelines define it.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
    };
    const double la = luminance(a) + 0.05;
    const double lb = luminance(b) + 0.05;
    return std::max(la, lb) / std::min(la, lb);
}

QColor over(const QColor& top, const QColor& below) {
    const double a = top.alphaF();
    return QColor::fromRgbF(float(top.redF() * a + below.redF() * (1 - a)),
                            float(top.greenF() * a + below.greenF() * (1 - a)),
                            float(top.blueF() * a + below.blueF() * (1 - a)));
}

QPalette darkPalette() {
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(36, 36, 38));
    palette.setColor(QPalette::WindowText, QColor(235, 235, 240));
    palette.setColor(QPalette::Base, QColor(28, 28, 30));
    palette.setColor(QPalette::Text, QColor(235, 235, 240));
    palette.setColor(QPalette::Highlight, QColor(53, 132, 228));
    return palette;
}

} // namespace

void TestOverlayViews::codeStandsApartAndCopiesExactlyTheCode() {
    const QString code = QStringLiteral("for f in *.txt; do\n\twc -l \"$f\"\ndone");
    model->setState(ExplanationState::content(
        QStringLiteral("Count with `wc -l`:\n\n```sh\n%1\n```\n\nOr ask **git**.").arg(code)));
    MarkdownView* text = view->textContent()->textView();
    QCOMPARE(text->parts().size(), 3);
    auto* block = qobject_cast<CodeBlockView*>(text->parts()[1]);
    QVERIFY(block);
    QCOMPARE(block->languageLabel()->text(), QStringLiteral("sh"));
    QVERIFY(text->parts()[1]->y() > text->parts()[0]->geometry().bottom());
    QVERIFY(text->parts()[2]->y() > text->parts()[1]->geometry().bottom());

    const auto inlineCode = formatOf(*text, QStringLiteral("wc -l"));
    QVERIFY(inlineCode);
    QVERIFY(QFontInfo(inlineCode->font()).fixedPitch());
    QVERIFY(inlineCode->background().color().alpha() > 0);
    const auto plain = formatOf(*text, QStringLiteral("Count with "));
    QVERIFY(plain && plain->background().style() == Qt::NoBrush);

    ActionBar* bar = view->actionBar();
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::mouseClick(block->copyButton(), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), code);
    QCOMPARE(block->copyButton()->text(), QStringLiteral("Copied!"));
    QVERIFY(!bar->copied());
    // The panel's Copy still gives the whole answer.
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    QCOMPARE(QGuiApplication::clipboard()->text(), model->state().text());
}

void TestOverlayViews::longCodeLinesScrollInsteadOfWrapping() {
    const QString longLine = QStringLiteral("curl --fail --silent --show-error --location --retry 3 "
                                            "https://example.org/a/very/long/path/that/does/not/fit");
    model->setState(ExplanationState::content(QStringLiteral("```\n%1\nshort\n```").arg(longLine)));
    MarkdownView* text = view->textContent()->textView();
    QTRY_VERIFY(text->width() > 0);
    auto* block = qobject_cast<CodeBlockView*>(text->parts().first());
    QVERIFY(block);
    QScrollBar* bar = block->scrollArea()->horizontalScrollBar();
    QTRY_VERIFY(bar->isVisible());
    QVERIFY(bar->maximum() > 0);
    QWidget* code = block->scrollArea()->widget();
    // Two lines high: nothing wrapped.
    const int lineHeight = QFontMetrics(code->font()).lineSpacing();
    QVERIFY2(code->height() < 3 * lineHeight + 20, qPrintable(QString::number(code->height())));
    QVERIFY(block->scrollArea()->viewport()->height() >= code->height());
    QCOMPARE(text->toPlainText(), longLine + QStringLiteral("\nshort"));

    // A screen reader walking the block by index while its scroll bar goes away.
    QAccessibleInterface* scroll = QAccessible::queryAccessibleInterface(block->scrollArea());
    QVERIFY(scroll);
    const int counted = scroll->childCount();
    model->setState(ExplanationState::content(QStringLiteral("```\nshort\n```")));
    QTRY_VERIFY(!bar->isVisible());
    QCOMPARE(scroll->childCount(), counted);
    for (int i = 0; i < counted; ++i)
        QVERIFY(scroll->child(i) && scroll->child(i)->isValid());
}

void TestOverlayViews::tableCellsOfARowLineUp() {
    // After a quote, Qt's reader puts an empty line into the first cell.
    model->setState(ExplanationState::content(
        QStringLiteral("> Counted per file.\n\n| Option | Counts |\n|---|---|\n| `-l` | lines |")));
    auto* prose = qobject_cast<MarkdownTextView*>(view->textContent()->textView()->parts().first());
    QVERIFY(prose);
    QTextDocument* doc = prose->document();
    QMap<QString, QRectF> cells;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (QTextCursor(block).currentTable())
            cells.insert(block.text(), doc->documentLayout()->blockBoundingRect(block));
    }
    QCOMPARE(cells.keys(), (QStringList{"-l", "Counts", "Option", "lines"}));
    QCOMPARE(cells["Option"].top(), cells["Counts"].top());
    QCOMPARE(cells["-l"].top(), cells["lines"].top());
    // The table keeps more than a paragraph's distance from the quote above it.
    const QRectF quote = doc->documentLayout()->blockBoundingRect(doc->begin());
    QVERIFY(cells["Option"].top() - quote.bottom() >= 12);
    QCOMPARE(formatOf(*view->textContent()->textView(), QStringLiteral("Option"))->fontWeight(),
             formatOf(*view->textContent()->textView(), QStringLiteral("Counts"))->fontWeight());
}

void TestOverlayViews::codeIsReadableInBothPalettesAndFollowsAChange() {
    const QPalette light = QApplication::palette();
    for (const QPalette& palette : {light, darkPalette()}) {
        const QColor card = OverlayStyle::cardBackground(palette, false);
        const QColor tinted = over(codeBackground(palette), card);
        const QColor text = OverlayStyle::primary(palette);
        QVERIFY2(contrast(text, tinted) >= 7.0, qPrintable(QString::number(contrast(text, tinted))));
        // The tint itself shows.
        QVERIFY(std::abs(tinted.lightnessF() - card.lightnessF()) >= 0.04);
    }

    model->setState(ExplanationState::content(
        QStringLiteral("Call `run()`.\n\n```\nrun()\n```\n\n- In a list:\n\n  ```\n  stop()\n  ```")));
    MarkdownView* text = view->textContent()->textView();
    QCOMPARE(formatOf(*text, QStringLiteral("run()"))->background().color(), codeBackground(light));
    QApplication::setPalette(darkPalette());
    QTRY_COMPARE(formatOf(*text, QStringLiteral("run()"))->background().color(),
                 codeBackground(darkPalette()));
    auto* inList = qobject_cast<MarkdownTextView*>(text->parts()[2]);
    QVERIFY(inList && inList->codeBlocks().size() == 1);
    for (CodeBlockView* block : {qobject_cast<CodeBlockView*>(text->parts()[1]), inList->codeBlocks()[0]}) {
        const QImage drawn = block->grab().toImage();
        const QColor middle = drawn.pixelColor(drawn.width() - 4, drawn.height() - 3);
        QVERIFY2(middle.lightnessF() < 0.3, qPrintable(middle.name()));
        // One tint behind the header and the code.
        const QColor header = drawn.pixelColor(drawn.width() / 2, 4);
        const QColor behindCode = drawn.pixelColor(4, block->scrollArea()->y() + 2);
        QCOMPARE(behindCode.name(), header.name());
    }
    QApplication::setPalette(light);
    QTRY_COMPARE(formatOf(*text, QStringLiteral("run()"))->background().color(), codeBackground(light));
}

void TestOverlayViews::codeInListsQuotesAndIndentedIsTakenOut_data() {
    using K = MarkdownSegment::Kind;
    QTest::addColumn<QString>("markdown");
    QTest::addColumn<QList<MarkdownSegment>>("code");
    QTest::newRow("fence in an ordered list, tab kept")
        << QStringLiteral("1. Step one:\n\n   ```bash\n   make\n   \tinstall\n   ```\n2. Step two\n")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("make\n\tinstall"), QStringLiteral("bash")}};
    QTest::newRow("fence right after the item's text")
        << QStringLiteral("1. Run:\n   ```\n   make\n   ```\n2. Test")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("make"), {}}};
    QTest::newRow("tildes as the item's only content, deeper lines keep their indentation")
        << QStringLiteral("- ~~~\n  only\n    child\n  ~~~\n- next")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("only\n  child"), {}}};
    QTest::newRow("nested list") << QStringLiteral("- a\n  - b\n\n    ```py\n    deep\n    ```\n")
                                 << QList<MarkdownSegment>{
                                        {K::code, QStringLiteral("deep"), QStringLiteral("py")}};
    QTest::newRow("quote, with a quote marker inside the code")
        << QStringLiteral("> quote\n>\n> ~~~c\n> int x;\n>\n> > kept\n> ~~~\n> after")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("int x;\n\n> kept"), QStringLiteral("c")}};
    QTest::newRow("the quote's end ends its code")
        << QStringLiteral("> ```\n> a\nb") << QList<MarkdownSegment>{{K::code, QStringLiteral("a"), {}}};
    QTest::newRow("the item's end ends its code")
        << QStringLiteral("- ```\n  a\nb") << QList<MarkdownSegment>{{K::code, QStringLiteral("a"), {}}};
    QTest::newRow("indented at the margin, blank line inside, not after")
        << QStringLiteral("para\n\n    top\n\n     two\n\nafter")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("top\n\n two"), {}}};
    QTest::newRow("indented in a list item")
        << QStringLiteral("- item\n\n      code\n      more\n- next")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("code\nmore"), {}}};
    QTest::newRow("an item's paragraph is no code")
        << QStringLiteral("1. Item\n\n    More text\n\n- a\nlazy") << QList<MarkdownSegment>{};
    QTest::newRow("fence at the margin stays")
        << QStringLiteral("```\n\n    x\n```\n") << QList<MarkdownSegment>{};
    QTest::newRow("unclosed fence runs to the end")
        << QStringLiteral("- ```sh\n  ls\n")
        << QList<MarkdownSegment>{{K::code, QStringLiteral("ls"), QStringLiteral("sh")}};
}

void TestOverlayViews::codeInListsQuotesAndIndentedIsTakenOut() {
    QFETCH(QString, markdown);
    QFETCH(QList<MarkdownSegment>, code);
    const ProseWithCode prose = extractEmbeddedCode(markdown);
    QCOMPARE(prose.code.size(), code.size());
    for (qsizetype i = 0; i < code.size(); ++i) {
        QCOMPARE(prose.code[i].text, code[i].text);
        QCOMPARE(prose.code[i].language, code[i].language);
        QVERIFY(prose.markdown.contains(embeddedCodePlaceholder(i)));
    }
    if (code.isEmpty())
        QCOMPARE(prose.markdown, markdown);
}

void TestOverlayViews::codeInListsAndQuotesIsSetApartAsAtTheMargin() {
    model->setState(ExplanationState::content(QStringLiteral(
        "1. Run `make` first:\n   ```sh\n   make install\n   ```\n2. Then:\n\n   - ~~~\n     only child\n    "
        " ~~~\n\n"
        "> Quoted `grep -r`\n>\n> ```\n> quoted code\n> ```\n\nIndented:\n\n    indented code\n\n"
        "At the margin `ls`.")));
    MarkdownView* text = view->textContent()->textView();
    const auto margin = formatOf(*text, QStringLiteral("ls"));
    QVERIFY(margin);
    for (const QString& code : {QStringLiteral("make"), QStringLiteral("grep -r")}) {
        const auto format = formatOf(*text, code);
        QVERIFY2(format, qPrintable(code));
        QVERIFY2(QFontInfo(format->font()).fixedPitch(), qPrintable(code));
        QCOMPARE(format->font().pointSizeF(), margin->font().pointSizeF());
        // The colour that reads on the tint, also inside a quote.
        QCOMPARE(format->foreground().color(), margin->foreground().color());
        QCOMPARE(format->background(), margin->background());
    }
    QVERIFY(formatOf(*text, QStringLiteral("Quoted "))->foreground().color() != margin->foreground().color());

    QCOMPARE(text->parts().size(), 1);
    auto* prose = qobject_cast<MarkdownTextView*>(text->parts().first());
    QVERIFY(prose);
    const QStringList codes{QStringLiteral("make install"), QStringLiteral("only child"),
                            QStringLiteral("quoted code"), QStringLiteral("indented code")};
    QCOMPARE(prose->codeBlocks().size(), codes.size());
    QTextDocument* doc = prose->document();
    // Each block lies in the room the text makes for it, inside its list item or quote, and the
    // text after it keeps its list: "Then" is still the second item, with one item in its list.
    QList<QRect> room;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (block.text() == QStringLiteral("Then:"))
            QCOMPARE(block.textList()->itemNumber(block), 1);
        if (block.text() != QString(QChar::ObjectReplacementCharacter))
            continue;
        room << doc->documentLayout()->blockBoundingRect(block).toRect();
        if (block.textList())
            QCOMPARE(block.textList()->count(), 1);
    }
    QCOMPARE(room.size(), codes.size());
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QSignalSpy copied(text, &MarkdownView::codeCopyRequested);
    for (qsizetype i = 0; i < codes.size(); ++i) {
        CodeBlockView* block = prose->codeBlocks()[i];
        QCOMPARE(block->code(), codes[i]);
        QTRY_VERIFY(block->isVisible());
        QVERIFY2(room[i].top() <= block->y() && block->geometry().bottom() <= room[i].bottom(),
                 qPrintable(codes[i]));
        QVERIFY(room[i].bottom() - block->geometry().bottom() < 12);
        QCOMPARE(block->geometry().right(), prose->width() - 1);
        QTest::mouseClick(block->copyButton(), Qt::LeftButton);
        QCOMPARE(QGuiApplication::clipboard()->text(), codes[i]);
    }
    QCOMPARE(copied.size(), codes.size());
    // Only the list's and the quote's code is indented.
    QVERIFY(prose->codeBlocks()[0]->x() > 0);
    QVERIFY(prose->codeBlocks()[1]->x() > prose->codeBlocks()[0]->x());
    QVERIFY(prose->codeBlocks()[2]->x() > 0);
    QCOMPARE(prose->codeBlocks()[3]->x(), 0);
    QVERIFY(text->toPlainText().contains(QStringLiteral("Quoted grep -r\nquoted code\nIndented:\n")));

    // A selection across a code block copies its code.
    QTextCursor all(doc);
    all.select(QTextCursor::Document);
    prose->setTextCursor(all);
    prose->copy();
    QVERIFY(QGuiApplication::clipboard()->text().contains(QStringLiteral("Then:\nonly child\n")));
}

void TestOverlayViews::streamedCodeInListsShowsWhatAWholeRenderShows() {
    const QString markdown =
        QStringLiteral("Intro\n\n1. Run:\n   ```sh\n   make\n\n   make install\n   ```\n2. Then:\n\n   - "
                       "~~~\n     only\n     ~~~\n\n"
                       "> Quoted:\n>\n> ```\n> a\n> ```\n\nAfter.\n\n    indented\n\n    more\n\nEnd `x`.");
    MarkdownTextView streamed(QApplication::font(), 4);
    streamed.resize(300, 400);
    const auto codes = [](const MarkdownTextView& view) {
        QStringList texts;
        for (const CodeBlockView* block : view.codeBlocks())
            texts << block->code();
        return texts;
    };
    for (qsizetype end = 1; end <= markdown.size(); ++end) {
        const QString text = markdown.left(end);
        streamed.setMarkdown(text);
        MarkdownTextView whole(QApplication::font(), 4);
        whole.resize(300, 400);
        whole.setMarkdown(text);
        QCOMPARE(codes(streamed), codes(whole));
        QCOMPARE(streamed.document()->toHtml(), whole.document()->toHtml());
    }
    QCOMPARE(codes(streamed), (QStringList{QStringLiteral("make\n\nmake install"), QStringLiteral("only"),
                                           QStringLiteral("a"), QStringLiteral("indented\n\nmore")}));
}

void TestOverlayViews::linksOpenInTheBrowserOnlyForWebAndMail() {
    QVERIFY(isOpenableLink(QUrl(QStringLiteral("https://example.org"))));
    QVERIFY(isOpenableLink(QUrl(QStringLiteral("mailto:a@example.org"))));
    QVERIFY(!isOpenableLink(QUrl(QStringLiteral("file:///etc/passwd"))));
    QVERIFY(!isOpenableLink(QUrl(QStringLiteral("javascript:alert(1)"))));
    QVERIFY(!isOpenableLink(QUrl(QStringLiteral("relative/path"))));

    QDesktopServices::setUrlHandler(QStringLiteral("https"), this, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    model->setState(ExplanationState::content(
        QStringLiteral("Read [the guide](https://example.org/guide) or [this](file:///etc/passwd).")));
    auto* prose = qobject_cast<MarkdownTextView*>(view->textContent()->textView()->parts().first());
    QVERIFY(prose);
    const QString shown = prose->toPlainText();
    const auto click = [&](const QString& word) {
        QTextCursor cursor(prose->document());
        cursor.setPosition(int(shown.indexOf(word)) + 1);
        QTest::mouseClick(prose->viewport(), Qt::LeftButton, {}, prose->cursorRect(cursor).center());
    };
    click(QStringLiteral("guide"));
    QTRY_COMPARE(openedUrls, QList<QUrl>{QUrl(QStringLiteral("https://example.org/guide"))});
    click(QStringLiteral("this"));
    QTest::qWait(50);
    QCOMPARE(openedUrls.size(), 1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

namespace {

QString longAnswer() {
    const QString section = QStringLiteral(
        "## Step %1: reading the configuration\n\n"
        "- Install it:\n  ```sh\n  make install\n  ```\n- Then see:\n\n  > ~~~\n  > quoted code\n  > ~~~\n\n"
        "The loader reads **settings.toml** first, then applies the *environment* on top. "
        "Values that are missing fall back to defaults, so a fresh install works without a file.\n\n"
        "- `timeout` limits each request, in seconds\n"
        "- `retries` is how often a failed request is sent again\n"
        "  and it waits longer each time\n"
        "- `endpoint` names the server, for example `https://api.example.org`\n\n"
        "```python\nconfig = load(\"settings.toml\")\nfor key, value in os.environ.items():\n"
        "    config.override(key, value)\n```\n\n"
        "1. Check the file exists.\n2. Parse it and report the line of any error.\n\n"
        "> A missing file is not an error.\n\n");
    QString text;
    for (int i = 1; i <= 3; ++i)
        text += section.arg(i);
    return text;
}

// Where each finished piece of the text is: every part but the last, and in the last part
// every block but the one still growing. Code blocks shown in the prose come after its blocks.
constexpr int codeKey = 100000;

QMap<QPair<int, int>, QRect> settledLayout(const MarkdownView& view) {
    QMap<QPair<int, int>, QRect> layout;
    const QList<QWidget*>& parts = view.parts();
    for (int i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        auto* prose = qobject_cast<MarkdownTextView*>(parts[i]);
        if (!prose) {
            layout.insert({i, -1}, last ? QRect(parts[i]->pos(), QSize()) : parts[i]->geometry());
            continue;
        }
        layout.insert({i, -1}, QRect(parts[i]->pos(), QSize()));
        // Code blocks in the prose: the last one may still be growing.
        const QList<CodeBlockView*>& code = prose->codeBlocks();
        for (int j = 0; j < code.size(); ++j) {
            const QRect at = code[j]->geometry().translated(parts[i]->pos());
            layout.insert({i, codeKey + j}, last && j + 1 == code.size() ? QRect(at.topLeft(), QSize()) : at);
        }
        QTextDocument* doc = prose->document();
        for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
            const QRectF rect = doc->documentLayout()->blockBoundingRect(block);
            // The block still growing keeps its top: nothing may open up above it.
            if (last && !block.next().isValid())
                layout.insert({i, block.blockNumber()},
                              QRect(QPoint(0, qRound(rect.top()) + parts[i]->y()), QSize()));
            else
                layout.insert({i, block.blockNumber()}, rect.translated(parts[i]->pos()).toAlignedRect());
        }
    }
    return layout;
}

} // namespace

void TestOverlayViews::streamingNeverMovesWhatIsShown() {
    const QString answer = longAnswer();
    MarkdownView streamed(QApplication::font(), 4);
    streamed.resize(348, 100);
    QMap<QPair<int, int>, QRect> before;
    for (qsizetype end = 1; end <= answer.size(); ++end) {
        streamed.setMarkdown(answer.left(end));
        streamed.resize(348, streamed.heightForWidth(348));
        const QMap<QPair<int, int>, QRect> now = settledLayout(streamed);

        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            const QRect moved = now.value(it.key());
            // A part or block still growing has only its top to keep, if it stays: the start of
            // a code fence, shown as text, turns into the fence.
            const bool kept = it.value().isValid()
                                  ? now.contains(it.key()) && moved == it.value()
                                  : !now.contains(it.key()) || moved.top() == it.value().top();
            QVERIFY2(kept, qPrintable(QStringLiteral(
                                          "part %1 block %2 moved from %3,%4 %5x%6 to %7,%8 %9x%10 at: %11")
                                          .arg(it.key().first)
                                          .arg(it.key().second)
                                          .arg(it.value().x())
                                          .arg(it.value().y())
                                          .arg(it.value().width())
                                          .arg(it.value().height())
                                          .arg(moved.x())
                                          .arg(moved.y())
                                          .arg(moved.width())
                                          .arg(moved.height())
                                          .arg(answer.mid(std::max<qsizetype>(0, end - 40), 40))));
        }
        before = now;
    }
}

void TestOverlayViews::levelMeterRepaintsOnlyTheBarsThatChange() {
    struct PaintSpy : QObject {
        QList<QRegion> regions;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() == QEvent::Paint)
                regions << static_cast<QPaintEvent*>(event)->region();
            return false;
        }
    } spy;
    AudioLevelIndicator meter(5);
    meter.setAnimationDuration(60);
    meter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&meter));
    meter.setLevel(0.5f);
    QTest::qWait(150);
    meter.installEventFilter(&spy);
    // Levels that light the same bars draw nothing.
    for (float level : {0.45f, 0.55f, 0.42f, 0.59f})
        meter.setLevel(level);
    QTest::qWait(150);
    QVERIFY2(spy.regions.isEmpty(), qPrintable(QString::number(spy.regions.size())));
    // One more bar: only that bar is drawn, and at most once a frame.
    meter.setLevel(0.65f);
    QTest::qWait(150);
    QVERIFY(!spy.regions.isEmpty());
    QVERIFY(spy.regions.size() <= 8);
    QRegion all;
    for (const QRegion& region : spy.regions)
        all += region;
    QVERIFY2(all.boundingRect().width() <= 6, qPrintable(QString::number(all.boundingRect().width())));
    QCOMPARE(meter.barHeight(3), 14);
}

namespace {

// `area` of `widget` painted on its own, and as part of the whole widget.
std::pair<QImage, QImage> partAndWhole(QWidget& widget, const QRect& area) {
    QImage whole(widget.size(), QImage::Format_ARGB32_Premultiplied);
    whole.fill(Qt::transparent);
    // Without the window's background, so that what lies outside the card stays transparent.
    widget.render(&whole, QPoint(), QRegion(), QWidget::DrawChildren);
    QImage part(area.size(), QImage::Format_ARGB32_Premultiplied);
    part.fill(Qt::transparent);
    widget.render(&part, QPoint(), QRegion(area), QWidget::DrawChildren);
    return {part, whole.copy(area)};
}

} // namespace

void TestOverlayViews::partialRepaintsDrawWhatAWholePaintDraws() {
    // The level meter repaints single bars, and the card under it only that much.
    AudioLevelIndicator meter(5);
    meter.setLevel(0.65f);
    for (int x = 0; x < meter.width(); x += 3) {
        const auto [part, whole] = partAndWhole(meter, QRect(x, 0, 3, meter.height()));
        QVERIFY2(part == whole, qPrintable(QStringLiteral("strip at x %1").arg(x)));
    }

    model->setMode(ViewMode::transcribe);
    model->setState(ExplanationState::loading());
    model->setAudioLevel(0.65f);
    const auto* level = view->findChild<AudioLevelIndicator*>();
    QVERIFY(level && level->isVisible());
    const QRect underMeter(level->mapTo(view, QPoint(0, 0)), level->size());
    const auto [part, whole] = partAndWhole(*view, underMeter);
    QVERIFY(part == whole);
    // A corner is drawn with the card's rounded outline.
    const auto [corner, wholeCorner] = partAndWhole(*view, QRect(0, 0, 20, 20));
    QVERIFY(corner == wholeCorner);
    QCOMPARE(corner.pixelColor(0, 0).alpha(), 0);
}

void TestOverlayViews::levelMeterEndsAtItsLevelInAFewFrames() {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            paints += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } counter;
    AudioLevelIndicator settled(5);
    settled.setLevel(0.65f);
    AudioLevelIndicator meter(5);
    meter.show();
    QVERIFY(QTest::qWaitForWindowExposed(&meter));
    meter.installEventFilter(&counter);
    meter.setLevel(0.65f);
    QTest::qWait(400);
    // Its 100 ms rise takes a few frames, not one per 16 ms, and ends exactly at the level.
    QVERIFY2(counter.paints >= 1 && counter.paints <= 4, qPrintable(QString::number(counter.paints)));
    meter.removeEventFilter(&counter);
    QTRY_COMPARE(meter.grab().toImage(), settled.grab().toImage());
}

QTEST_MAIN(TestOverlayViews)
#include "tst_overlayviews.moc"
