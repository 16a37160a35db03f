#include "FakePlatform.h"
#include "platform/SettingsStore.h"
#include "preferences/ActionStore.h"
#include "preferences/ActionsPreferencesView.h"
#include "shortcuts/ShortcutConfiguration.h"
#include "shortcuts/ShortcutNames.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QComboBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

struct Tab {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("Quillpoint/actions.json"));
    MemorySettingsStore settings;
    ShortcutConfiguration shortcuts{settings};
    FakeKeyboardLayout layout;
    ShortcutNames names{layout};
    ActionStore store{path, names};
    ActionsPreferencesView view{store, shortcuts, names};

    // The file's actions as "id:name:result:shortcut:enabled".
    QStringList saved() const {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QStringList rows;
        for (const auto& value : QJsonDocument::fromJson(file.readAll())["actions"].toArray()) {
            const QJsonObject action = value.toObject();
            rows << QStringList{action["id"].toString(), action["name"].toString(),
                                action["result"].toString(), action["shortcut"].toString(),
                                action["enabled"].toBool() ? "on" : "off"}
                        .join(u':');
        }
        return rows;
    }
    QPushButton* button(const QString& text) const {
        for (QPushButton* candidate : view.findChildren<QPushButton*>()) {
            if (candidate->text() == text)
                return candidate;
        }
        return nullptr;
    }
    QPushButton* shortcutButton() const {
        return view.findChild<ShortcutRecorderView*>(QStringLiteral("actionShortcut"))
            ->findChild<QPushButton*>(QStringLiteral("shortcutButton"));
    }
};

} // namespace

class TestActionsPreferences : public QObject {
    Q_OBJECT
private slots:
    void turningOnAndEditingWritesTheFile();
    void aNewActionIsSavedOnceItHasAnInstruction();
    void shortcutsAreRefusedWhenSomethingElseHasThem();
    void reorderAndDelete();
    void changesToTheFileReachTheTab();
};

void TestActionsPreferences::turningOnAndEditingWritesTheFile() {
    Tab t;
    t.view.show();
    QCOMPARE(t.view.list()->count(), 4);
    QVERIFY(t.saved().isEmpty());

    t.view.list()->item(2)->setCheckState(Qt::Checked);
    QCOMPARE(t.saved().at(2), QStringLiteral("translate:Translate into English:panel::on"));

    t.view.list()->setCurrentRow(2);
    auto* name = t.view.findChild<QLineEdit*>(QStringLiteral("actionName"));
    name->selectAll();
    QTest::keyClicks(name, QStringLiteral("Into German"));
    auto* result = t.view.findChild<QComboBox*>(QStringLiteral("actionResult"));
    result->setCurrentIndex(result->findData(int(ActionResult::copy)));
    emit result->activated(result->currentIndex());
    QTRY_COMPARE(t.saved().at(2), QStringLiteral("translate:Into German:copy::on"));
    // Saving did not take the text being typed from under the cursor.
    QCOMPARE(name->text(), QStringLiteral("Into German"));
    QCOMPARE(t.view.list()->item(2)->text(), QStringLiteral("Into German"));
}

void TestActionsPreferences::aNewActionIsSavedOnceItHasAnInstruction() {
    Tab t;
    QTest::mouseClick(t.button("Add"), Qt::LeftButton);
    QCOMPARE(t.view.list()->count(), 5);
    QCOMPARE(t.view.list()->currentRow(), 4);
    QCOMPARE(t.view.list()->item(4)->checkState(), Qt::Checked);
    QVERIFY(t.view.problemLabel()->text().contains(QStringLiteral("instruction is empty")));
    QVERIFY(t.saved().isEmpty());

    auto* instruction = t.view.findChild<QPlainTextEdit*>(QStringLiteral("actionInstruction"));
    instruction->setPlainText(QStringLiteral("Make it rhyme."));
    QTRY_COMPARE(t.saved().size(), 5);
    QCOMPARE(t.saved().at(4), QStringLiteral("action-1:New action:panel::on"));
    QCOMPARE(t.store.find(QStringLiteral("action-1"))->instruction, QStringLiteral("Make it rhyme."));
    QVERIFY(!t.view.problemLabel()->isVisibleTo(&t.view));
}

void TestActionsPreferences::shortcutsAreRefusedWhenSomethingElseHasThem() {
    Tab t;
    t.view.show();
    t.view.list()->setCurrentRow(0);
    QPushButton* button = t.shortcutButton();
    QCOMPARE(button->text(), QStringLiteral("None"));

    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_2, Qt::ControlModifier);
    auto* recorder = t.view.findChild<ShortcutRecorderView*>(QStringLiteral("actionShortcut"));
    QVERIFY(recorder->error());
    QVERIFY2(recorder->error()->contains(QStringLiteral("Transcribe Mode")), qPrintable(*recorder->error()));
    QVERIFY(t.saved().isEmpty());

    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_5, Qt::ControlModifier);
    QCOMPARE(t.saved().at(0), QStringLiteral("fix:Fix spelling and grammar:replace:Ctrl+5:off"));

    // Another action cannot take it.
    t.view.list()->setCurrentRow(1);
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::keyClick(button, Qt::Key_5, Qt::ControlModifier);
    QVERIFY(recorder->error()->contains(QStringLiteral("Fix spelling and grammar")));
    QCOMPARE(t.saved().at(1), QStringLiteral("shorter:Make it shorter:replace::off"));
}

void TestActionsPreferences::reorderAndDelete() {
    Tab t;
    t.view.list()->setCurrentRow(3);
    QTest::mouseClick(t.button("Move Up"), Qt::LeftButton);
    QCOMPARE(t.view.list()->currentRow(), 2);
    QVERIFY(t.saved().at(2).startsWith(QStringLiteral("summarize:")));
    QTest::mouseClick(t.button("Delete"), Qt::LeftButton);
    QCOMPARE(t.saved().size(), 3);
    QVERIFY(t.saved().at(2).startsWith(QStringLiteral("translate:")));
    t.view.list()->setCurrentRow(2);
    QVERIFY(!t.button("Move Down")->isEnabled());
}

void TestActionsPreferences::changesToTheFileReachTheTab() {
    Tab t;
    QVERIFY(!t.view.problemLabel()->isVisibleTo(&t.view));
    QVERIFY(!t.store.save(t.store.actions()));
    {
        QFile file(t.path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(
            R"({"actions": [{"id": "a", "name": "Edited by hand", "instruction": "x", "result": "panel"}]})");
    }
    QTRY_COMPARE(t.view.list()->count(), 1);
    QCOMPARE(t.view.list()->item(0)->text(), QStringLiteral("Edited by hand"));
    {
        QFile file(t.path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("{");
    }
    QTRY_VERIFY(t.view.problemLabel()->isVisibleTo(&t.view));
    QVERIFY(t.view.problemLabel()->text().contains(t.path));
    QCOMPARE(t.view.list()->count(), 4);
}

QTEST_MAIN(TestActionsPreferences)
#include "tst_actionspreferences.moc"
