#include "FakePlatform.h"
#include "preferences/ActionList.h"
#include "preferences/ActionStore.h"
#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutNames.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

const QByteArray validFile = R"({"actions": [
  {"id": "fix", "name": "Fix spelling", "instruction": "Fix it.\nKeep the tone.", "shortcut": "Ctrl+3",
   "result": "replace", "enabled": true},
  {"id": "tl", "name": "Translate", "instruction": "Into English", "shortcut": "ctrl+shift+f5", "result": "panel"},
  {"id": "cp", "name": "Copy", "instruction": "Shorter", "shortcut": "", "result": "copy", "enabled": false}
]})";

} // namespace

class TestActionStore : public QObject {
    Q_OBJECT
private slots:
    void readsTheFileAsWritten();
    void refusesWhatCannotWork_data();
    void refusesWhatCannotWork();
    void shortcutsAreNamedByTheLayoutInUse();
    void withoutAFileTheBuiltInsAreOffered();
    void anInvalidFileIsReportedAndNeverOverwritten();
    void editsToTheFileArePickedUp();
    void savesAndRefusesInvalidActions();
    void actionsThatCannotRunAreNamed();

private:
    FakeKeyboardLayout layout;
    ShortcutNames names{layout};
};

void TestActionStore::readsTheFileAsWritten() {
    const auto parsed = ActionList::parse(validFile, names);
    const QString* why = std::get_if<QString>(&parsed);
    QVERIFY2(!why, qPrintable(why ? *why : QString()));
    const UserActionList actions = std::get<UserActionList>(parsed);
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0].instruction, QStringLiteral("Fix it.\nKeep the tone."));
    QCOMPARE(actions[0].result, ActionResult::replace);
    QCOMPARE(names.text(*actions[0].shortcut), QStringLiteral("Ctrl+3"));
    // Written by hand without the switch: meant to be used.
    QVERIFY(actions[1].enabled);
    QCOMPARE(names.text(*actions[1].shortcut), QStringLiteral("Ctrl+Shift+F5"));
    QVERIFY(!actions[2].shortcut);
    QVERIFY(!actions[2].enabled);
    QCOMPARE(actions[2].result, ActionResult::copy);

    const QByteArray written = ActionList::serialize(actions, names);
    QVERIFY(written.contains(R"("shortcut": "Ctrl+Shift+F5")"));
    const auto again = ActionList::parse(written, names);
    QVERIFY(std::holds_alternative<UserActionList>(again));
    QCOMPARE(std::get<UserActionList>(again), actions);
}

void TestActionStore::refusesWhatCannotWork_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("message");
    const auto one = [](const QByteArray& fields) {
        return QByteArray(R"({"actions": [{"id": "a", "name": "A", "instruction": "Do it", "result": "panel"},
                                         {)") +
               fields + "}]}";
    };
    QTest::newRow("broken json") << QByteArray("{\"actions\": [\n  {\"id\": }\n]}") << "line 2, column";
    QTest::newRow("no list") << QByteArray(R"({"action": []})") << "array \"actions\"";
    QTest::newRow("not an object") << QByteArray(R"({"actions": [3]})") << "actions[0]: expected an object";
    QTest::newRow("missing instruction") << one(R"("id": "b", "name": "B", "result": "panel")")
                                         << "actions[1]: \"instruction\" must be a string";
    QTest::newRow("blank instruction")
        << one(R"("id": "b", "name": "B", "instruction": "  ", "result": "panel")") << "instruction is empty";
    QTest::newRow("control characters")
        << one(R"("id": "b", "name": "B", "instruction": "a\u0007b", "result": "panel")")
        << "control characters";
    QTest::newRow("too long") << one(R"("id": "b", "name": "B", "instruction": ")" + QByteArray(2001, 'x') +
                                     R"(", "result": "panel")")
                              << "longer than 2,000";
    QTest::newRow("unknown result") << one(R"("id": "b", "name": "B", "instruction": "x", "result": "paste")")
                                    << "actions[1]: \"result\" must be";
    QTest::newRow("same id") << one(R"("id": "a", "name": "B", "instruction": "x", "result": "panel")")
                             << "used twice";
    QTest::newRow("bad id") << one(R"("id": "a b", "name": "B", "instruction": "x", "result": "panel")")
                            << "the id must be";
    QTest::newRow("unknown key") << one(R"("id": "b", "name": "B", "instruction": "x", "result": "panel",
                                         "shortcut": "Ctrl+Nope")")
                                 << "\"Ctrl+Nope\" is not a shortcut";
    QTest::newRow("no modifier") << one(R"("id": "b", "name": "B", "instruction": "x", "result": "panel",
                                         "shortcut": "3")")
                                 << "is not a shortcut";
    QTest::newRow("enabled as text") << one(R"("id": "b", "name": "B", "instruction": "x", "result": "panel",
                                             "enabled": "yes")")
                                     << "\"enabled\" must be true or false";
    QTest::newRow("same shortcut") << QByteArray(R"({"actions": [
            {"id": "a", "name": "A", "instruction": "x", "result": "panel", "shortcut": "Ctrl+3"},
            {"id": "b", "name": "B", "instruction": "x", "result": "panel", "shortcut": "Ctrl+3"}]})")
                                   << "already used by \"A\"";
}

void TestActionStore::refusesWhatCannotWork() {
    QFETCH(QByteArray, json);
    QFETCH(QString, message);
    const auto parsed = ActionList::parse(json, names);
    const QString* why = std::get_if<QString>(&parsed);
    QVERIFY(why);
    QVERIFY2(why->contains(message), qPrintable(*why));
}

// On a German layout the key kept as Y types Z: the file says what the menu shows.
void TestActionStore::shortcutsAreNamedByTheLayoutInUse() {
    FakeKeyboardLayout german;
    german.labels.insert(Qt::Key_Y, QStringLiteral("Z"));
    german.labels.insert(Qt::Key_Z, QStringLiteral("Y"));
    const ShortcutNames germanNames(german);
    const auto shortcut = ActionList::parseShortcut(QStringLiteral("Alt+Z"), germanNames);
    QVERIFY(shortcut);
    QCOMPARE(keyName(shortcut->keyCode), QStringLiteral("Y"));
    QCOMPARE(shortcut->modifiers, modifier::alt);
    QCOMPARE(germanNames.text(*shortcut), QStringLiteral("Alt+Z"));
    QVERIFY(!ActionList::parseShortcut(QStringLiteral("Ctrl+Ctrl+Z"), germanNames));
}

void TestActionStore::withoutAFileTheBuiltInsAreOffered() {
    QTemporaryDir dir;
    ActionStore store(dir.filePath(QStringLiteral("Quillpoint/actions.json")), names);
    QVERIFY(!store.problem());
    QCOMPARE(store.actions().size(), 4);
    QStringList results;
    for (const UserAction& action : store.actions()) {
        QVERIFY(!action.enabled);
        QVERIFY(!ActionList::problem(action, {}));
        results << ActionList::resultName(action.result);
    }
    QCOMPARE(results, (QStringList{"replace", "replace", "panel", "panel"}));
    QCOMPARE(store.actions().at(0).name, QStringLiteral("Fix spelling and grammar"));
    // Nothing is written until the user changes something.
    QVERIFY(!QFile::exists(store.path()));
}

void TestActionStore::anInvalidFileIsReportedAndNeverOverwritten() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("actions.json"));
    const QByteArray broken = "{\"actions\": [\n  {\"id\": \"x\", \"name\": \"X\", \"instruction\": \"y\", "
                              "\"result\": \"pasteover\"}\n]}\n";
    QVERIFY(writeAll(path, broken));
    LogCapture log;
    ActionStore store(path, names);
    QVERIFY(store.problem());
    QVERIFY2(store.problem()->contains(path) && store.problem()->contains(QStringLiteral("actions[0]")),
             qPrintable(*store.problem()));
    QVERIFY(log.lines.join(u'\n').contains(QStringLiteral("actions[0]")));
    QCOMPARE(store.actions(), ActionList::builtIns());

    UserActionList edited = store.actions();
    edited[0].enabled = true;
    const auto refused = store.save(edited);
    QVERIFY(refused);
    QVERIFY(refused->contains(path));
    QCOMPARE(readAll(path), broken);
    QCOMPARE(store.actions(), ActionList::builtIns());
}

void TestActionStore::editsToTheFileArePickedUp() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("actions.json"));
    QVERIFY(writeAll(path, "{\"actions\": [}"));
    ActionStore store(path, names);
    QVERIFY(store.problem());
    QSignalSpy changed(&store, &ActionStore::changed);

    // Mended in place.
    QVERIFY(writeAll(path, validFile));
    QTRY_VERIFY(!store.problem());
    QCOMPARE(store.actions().size(), 3);

    // Saved the way editors save: a new file renamed over the old one.
    const QString fresh = dir.filePath(QStringLiteral("actions.json.new"));
    QVERIFY(writeAll(fresh,
                     R"({"actions": [{"id": "one", "name": "One", "instruction": "x", "result": "copy"}]})"));
    QVERIFY(QDir().rename(fresh, path) || (QFile::remove(path) && QFile::rename(fresh, path)));
    QTRY_COMPARE(store.actions().size(), 1);
    QCOMPARE(store.actions().at(0).id, QStringLiteral("one"));

    // And the renamed file is watched in turn.
    QVERIFY(writeAll(path, validFile));
    QTRY_COMPARE(store.actions().size(), 3);
    QVERIFY(changed.size() >= 3);
}

void TestActionStore::savesAndRefusesInvalidActions() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Quillpoint/actions.json"));
    ActionStore store(path, names);
    UserActionList actions = store.actions();
    actions[2].enabled = true;
    actions[2].shortcut = Shortcut{20, modifier::ctrl};
    QVERIFY(!store.save(actions));
    QCOMPARE(store.actions(), actions);
    QVERIFY(readAll(path).contains(R"("shortcut": "Ctrl+3")"));

    const QByteArray saved = readAll(path);
    actions[1].instruction.clear();
    const auto refused = store.save(actions);
    QVERIFY(refused);
    QVERIFY2(refused->contains(QStringLiteral("instruction is empty")), qPrintable(*refused));
    QCOMPARE(readAll(path), saved);
}

void TestActionStore::actionsThatCannotRunAreNamed() {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("actions.json"));
    QVERIFY(writeAll(path, validFile));
    ActionStore store(path, names);
    QVERIFY(!store.runProblem(QStringLiteral("fix")));
    QVERIFY(store.runProblem(QStringLiteral("cp"))->contains(QStringLiteral("\"cp\" is turned off")));
    const QString unknown = *store.runProblem(QStringLiteral("nope"));
    QVERIFY2(unknown.contains(QStringLiteral("\"nope\"")) && unknown.contains(path), qPrintable(unknown));
    const QString flood = *store.runProblem(QString(5000, u'x'));
    QVERIFY(flood.size() < 400);
}

QTEST_MAIN(TestActionStore)
#include "tst_actionstore.moc"
