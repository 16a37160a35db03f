#include "FakeCapture.h"
#include "history/HistoryListModel.h"
#include "history/HistoryStore.h"
#include "history/HistoryWindow.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

constexpr HistoryRetention keepAll{3650, 100'000};

QStringList rows(const HistoryWindow& window) {
    QStringList texts;
    const HistoryListModel& model = *window.model();
    for (int row = 0; row < model.rowCount(); ++row)
        texts.append(model.index(row).data().toString());
    return texts;
}

QPushButton* button(const HistoryWindow& window, const QString& text) {
    for (QPushButton* candidate : window.findChildren<QPushButton*>())
        if (candidate->text() == text)
            return candidate;
    return nullptr;
}

} // namespace

class TestHistoryWindow : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_store.reset(); }
    void listsExplanationsAndTranscriptsNewestFirst();
    void searchNarrowsAsYouType();
    void copyPutsTheWholeOutputOnTheClipboard();
    void deleteSelectsTheNextEntry();
    void clearAllAsksFirst();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<HistoryStore> m_store;
    FakeClipboard m_clipboard;
};

void TestHistoryWindow::init() {
    m_dir = std::make_unique<QTemporaryDir>();
    m_store = std::make_unique<HistoryStore>(m_dir->filePath("history.sqlite3"));
    HistoryEntry explanation;
    explanation.kind = HistoryKind::explanation;
    explanation.application = "Mousepad";
    explanation.input = "photosynthesis";
    explanation.output = "Plants turn **light** into sugar.\n\nMore lines follow.";
    m_store->add(explanation, keepAll);
    HistoryEntry transcript;
    transcript.kind = HistoryKind::transcript;
    transcript.application = "XTerm";
    transcript.seconds = 3;
    transcript.output = "Meet me at noon";
    transcript.pasted = false;
    m_store->add(transcript, keepAll);
}

void TestHistoryWindow::listsExplanationsAndTranscriptsNewestFirst() {
    HistoryWindow window(*m_store, m_clipboard);
    window.present();
    QCOMPARE(window.windowTitle(), "History");
    const QStringList listed = rows(window);
    QCOMPARE(listed.size(), 2);
    QVERIFY2(listed[0].startsWith("Transcript (3 s) \u00b7 XTerm \u00b7 "), qPrintable(listed[0]));
    QVERIFY2(listed[0].contains("Not pasted"), qPrintable(listed[0]));
    QVERIFY(listed[0].endsWith("\nMeet me at noon"));
    QVERIFY2(listed[1].startsWith("Explanation \u00b7 Mousepad \u00b7 "), qPrintable(listed[1]));
    QVERIFY(!listed[1].contains("Not pasted"));
    QVERIFY(listed[1].endsWith("\nPlants turn **light** into sugar. More lines follow."));

    // The newest is chosen and shown in full; the explanation shows what was selected too.
    QVERIFY(window.details()->toPlainText().contains("Meet me at noon"));
    window.list()->setCurrentIndex(window.model()->index(1));
    QVERIFY(window.details()->toPlainText().contains("More lines follow."));
    QVERIFY(window.details()->toPlainText().contains("photosynthesis"));

    // A result written while the window is open appears at the top.
    HistoryEntry later;
    later.output = "a later answer";
    m_store->add(later, keepAll);
    QCOMPARE(rows(window).size(), 3);
    QVERIFY(rows(window).constFirst().endsWith("\na later answer"));
}

void TestHistoryWindow::searchNarrowsAsYouType() {
    HistoryWindow window(*m_store, m_clipboard);
    window.present();
    QTest::keyClicks(window.searchField(), "PHOTO");
    QTRY_COMPARE(rows(window).size(), 1);
    QVERIFY(rows(window).constFirst().startsWith("Explanation"));
    QVERIFY(window.details()->toPlainText().contains("photosynthesis"));
    QTest::keyClicks(window.searchField(), "x");
    QTRY_VERIFY(rows(window).isEmpty());
    QVERIFY(window.details()->toPlainText().isEmpty());
    // Emptied while a search is under way: everything at once.
    QTest::keyClicks(window.searchField(), "y");
    window.searchField()->clear();
    QCOMPARE(rows(window).size(), 2);
    QTest::keyClicks(window.searchField(), "meet");
    QTRY_COMPARE(rows(window).size(), 1);
    QVERIFY(rows(window).constFirst().startsWith("Transcript"));
}

void TestHistoryWindow::copyPutsTheWholeOutputOnTheClipboard() {
    HistoryWindow window(*m_store, m_clipboard);
    window.present();
    window.list()->setCurrentIndex(window.model()->index(1));
    QPushButton* copy = button(window, "Copy");
    QVERIFY(copy);
    copy->click();
    QCOMPARE(m_clipboard.text(), QString("Plants turn **light** into sugar.\n\nMore lines follow."));
}

void TestHistoryWindow::deleteSelectsTheNextEntry() {
    HistoryWindow window(*m_store, m_clipboard);
    window.present();
    button(window, "Delete")->click();
    QCOMPARE(rows(window).size(), 1);
    QCOMPARE(window.list()->currentIndex().row(), 0);
    QVERIFY(window.details()->toPlainText().contains("photosynthesis"));
    button(window, "Delete")->click();
    QCOMPARE(m_store->count(), 0);
    QVERIFY(!button(window, "Delete")->isEnabled());
    QVERIFY(!button(window, "Copy")->isEnabled());
}

void TestHistoryWindow::clearAllAsksFirst() {
    HistoryWindow window(*m_store, m_clipboard);
    window.present();
    QPushButton* clear = button(window, "Clear All...");
    QVERIFY(clear && clear->isEnabled());

    clear->click();
    auto* question = window.findChild<QMessageBox*>("historyClearConfirmation");
    QVERIFY(question);
    question->button(QMessageBox::Cancel)->click();
    QCOMPARE(m_store->count(), 2);

    QTRY_VERIFY(!window.findChild<QMessageBox*>("historyClearConfirmation"));
    clear->click();
    question = window.findChild<QMessageBox*>("historyClearConfirmation");
    QVERIFY(question);
    QAbstractButton* confirm = nullptr;
    for (QAbstractButton* candidate : question->buttons())
        if (question->buttonRole(candidate) == QMessageBox::DestructiveRole)
            confirm = candidate;
    QVERIFY(confirm);
    QCOMPARE(confirm->text(), "Delete All");
    confirm->click();
    QCOMPARE(m_store->count(), 0);
    QVERIFY(rows(window).isEmpty());
    QVERIFY(!clear->isEnabled());
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
