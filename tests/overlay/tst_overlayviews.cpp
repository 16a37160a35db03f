#include "overlay/ActionBar.h"
#include "overlay/AudioLevelIndicator.h"
#include "overlay/Divider.h"
#include "overlay/ErrorView.h"
#include "overlay/ExplanationView.h"
#include "overlay/LoadingView.h"
#include "overlay/MarkdownView.h"
#include "overlay/OverlayButtons.h"
#include "overlay/SpinnerView.h"
#include "overlay/TextContent.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBlockFormat>
#include <QTextCursor>
#include <QTextDocument>
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
    void dismissButtonExplainsEsc();
    void streamedMarkdownShowsWhatAWholeParseShows_data();
    void streamedMarkdownShowsWhatAWholeParseShows();
    void htmlAndImagesInTheTextStayText();
    void scrollAreaKeepsItsAccessibleChildrenWhileTheTextChanges();

private:
    bool shown(QWidget* widget) const { return !widget->isHidden(); }

    ExplanationViewModel* model = nullptr;
    ExplanationView* view = nullptr;
    int fetches = 0;
    int dismissals = 0;
    QStringList pastes;
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
    QVERIFY(text->textInteractionFlags() & Qt::TextSelectableByMouse);
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
    bar->setCopiedDuration(1000);
    QTest::qWait(30);
    QTest::mouseClick(bar->copyButton(), Qt::LeftButton);
    QTest::qWait(60);
    QVERIFY(!bar->copied()); // the new row's first Copy ends it, the earlier row's timer did not
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
    MarkdownView streamed(QApplication::font(), 4);
    for (qsizetype end = 1; end <= markdown.size(); end += 3) {
        const QString text = markdown.left(end);
        streamed.setMarkdown(text);
        QTextDocument whole;
        whole.setDefaultFont(QApplication::font());
        whole.setDocumentMargin(0);
        whole.setIndentWidth(streamed.document()->indentWidth());
        whole.setMarkdown(text, QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub |
                                                                QTextDocument::MarkdownNoHTML));
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

    MarkdownView view(QApplication::font(), 4);
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

QTEST_MAIN(TestOverlayViews)
#include "tst_overlayviews.moc"
