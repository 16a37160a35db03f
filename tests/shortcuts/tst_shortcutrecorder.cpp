#include "shortcuts/KeyCodes.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <map>

using namespace quill;

namespace {

struct KeyPress {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
};

const Shortcut ctrl1{18, 0x100};

// A recorder bound to a plain value, as its owner would bind it to a store; `others` are the
// shortcuts of the other actions, by name.
class RecorderFixture {
public:
    explicit RecorderFixture(Shortcut initial, Shortcut defaultValue = ctrl1,
                             std::map<QString, Shortcut> others = {})
        : value(initial)
        , otherActions(std::move(others))
        , recorder(ShortcutBinding{[this] { return value; }, defaultValue,
                                   [this](const Shortcut& s) -> std::optional<QString> {
                                       for (const auto& [name, shortcut] : otherActions) {
                                           if (shortcut == s)
                                               return name;
                                       }
                                       return std::nullopt;
                                   },
                                   [](const Shortcut& s) { return displayString(s); }}) {
        QObject::connect(&recorder, &ShortcutRecorderView::shortcutChosen, &recorder,
                         [this](const Shortcut& s) {
                             value = s;
                             ++writes;
                         });
        recorder.show();
    }
    QPushButton* button() { return recorder.findChild<QPushButton*>(QStringLiteral("shortcutButton")); }
    QToolButton* reset() { return recorder.findChild<QToolButton*>(QStringLiteral("resetButton")); }
    QLabel* errorLabel() { return recorder.findChild<QLabel*>(QStringLiteral("errorLabel")); }

    Shortcut value;
    int writes = 0;
    std::map<QString, Shortcut> otherActions;
    ShortcutRecorderView recorder;
};

} // namespace

Q_DECLARE_METATYPE(QList<KeyPress>)
Q_DECLARE_METATYPE(Shortcut)

class TestShortcutRecorder : public QObject {
    Q_OBJECT
private slots:
    void capture_data();
    void capture();
    void recordingHidesResetAndReportsItsState();
    void resetGivesTheRowsOwnDefault();
    void anotherActionsShortcutIsRefusedByName();
    void refusalTextComesAndGoes();
    void hidingEndsRecording();
};

void TestShortcutRecorder::capture_data() {
    QTest::addColumn<QList<KeyPress>>("presses");
    QTest::addColumn<Shortcut>("stored");
    QTest::addColumn<bool>("stillRecording");
    QTest::addColumn<QString>("error");

    const auto ctrl = Qt::KeyboardModifiers(Qt::ControlModifier);
    const auto none = Qt::KeyboardModifiers();
    QTest::newRow("Ctrl+Alt+K") << QList<KeyPress>{{Qt::Key_K, ctrl | Qt::AltModifier}} << Shortcut{40, 0x900}
                                << false << QString();
    QTest::newRow("Super+Alt+K is Control+Option")
        << QList<KeyPress>{{Qt::Key_K, Qt::MetaModifier | Qt::AltModifier}} << Shortcut{40, 0x1800} << false
        << QString();
    QTest::newRow("Shift alone counts")
        << QList<KeyPress>{{Qt::Key_A, Qt::ShiftModifier}} << Shortcut{0, 0x200} << false << QString();
    QTest::newRow("shifted digit records the digit key")
        << QList<KeyPress>{{Qt::Key_Exclam, ctrl | Qt::ShiftModifier}} << Shortcut{18, 0x300} << false
        << QString();
    QTest::newRow("Shift+Tab records Tab")
        << QList<KeyPress>{{Qt::Key_Backtab, Qt::ShiftModifier}} << Shortcut{48, 0x200} << false << QString();
    QTest::newRow("plain A ignored") << QList<KeyPress>{{Qt::Key_A, none}} << ctrl1 << true << QString();
    QTest::newRow("plain F5 ignored") << QList<KeyPress>{{Qt::Key_F5, none}} << ctrl1 << true << QString();
    QTest::newRow("modifier alone ignored")
        << QList<KeyPress>{{Qt::Key_Control, ctrl}} << ctrl1 << true << QString();
    QTest::newRow("key without a stored code ignored")
        << QList<KeyPress>{{Qt::Key_Insert, ctrl}} << ctrl1 << true << QString();
    QTest::newRow("ignored keys, then a shortcut")
        << QList<KeyPress>{{Qt::Key_A, none}, {Qt::Key_F5, none}, {Qt::Key_F5, ctrl}} << Shortcut{96, 0x100}
        << false << QString();
    QTest::newRow("Escape") << QList<KeyPress>{{Qt::Key_Escape, none}} << ctrl1 << false << QString();
    QTest::newRow("Ctrl+Escape") << QList<KeyPress>{{Qt::Key_Escape, ctrl}} << ctrl1 << false << QString();
    const QString reserved = QStringLiteral("Reserved system shortcut");
    QTest::newRow("Ctrl+Q refused") << QList<KeyPress>{{Qt::Key_Q, ctrl}} << ctrl1 << false << reserved;
    QTest::newRow("Ctrl+Tab refused") << QList<KeyPress>{{Qt::Key_Tab, ctrl}} << ctrl1 << false << reserved;
    QTest::newRow("Ctrl+Shift+Q accepted") << QList<KeyPress>{{Qt::Key_Q, ctrl | Qt::ShiftModifier}}
                                           << Shortcut{12, 0x300} << false << QString();
}

void TestShortcutRecorder::capture() {
    QFETCH(QList<KeyPress>, presses);
    QFETCH(Shortcut, stored);
    QFETCH(bool, stillRecording);
    QFETCH(QString, error);

    RecorderFixture f(ctrl1);
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QVERIFY(f.recorder.isRecording());
    for (const KeyPress& press : presses)
        QTest::keyClick(f.button(), press.key, press.modifiers);

    QCOMPARE(f.value, stored);
    QCOMPARE(f.writes, stored == ctrl1 ? 0 : 1);
    QCOMPARE(f.recorder.isRecording(), stillRecording);
    QCOMPARE(f.recorder.error().value_or(QString()), error);
    QCOMPARE(f.errorLabel()->isVisible(), !error.isEmpty());
    QCOMPARE(f.errorLabel()->text(), error);
}

void TestShortcutRecorder::recordingHidesResetAndReportsItsState() {
    RecorderFixture f(Shortcut{40, 0x900});
    QSignalSpy recording(&f.recorder, &ShortcutRecorderView::recordingChanged);
    QCOMPARE(f.button()->text(), QStringLiteral("Ctrl+Alt+K"));
    QVERIFY(f.reset()->isVisible());

    QTest::mouseClick(f.button(), Qt::LeftButton);
    QCOMPARE(f.button()->text(), QStringLiteral("Press shortcut..."));
    QVERIFY(!f.reset()->isVisible());
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QVERIFY(f.recorder.isRecording());

    QTest::keyClick(f.button(), Qt::Key_K, Qt::MetaModifier | Qt::AltModifier);
    QCOMPARE(f.button()->text(), QStringLiteral("Alt+Super+K"));
    QVERIFY(f.reset()->isVisible());
    QCOMPARE(recording.size(), 2);
    QCOMPARE(recording.at(0).at(0).toBool(), true);
    QCOMPARE(recording.at(1).at(0).toBool(), false);

    // Outside recording the keys are the button's own: they start nothing and change nothing.
    QTest::keyClick(f.button(), Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(f.value, (Shortcut{40, 0x1800}));
    QCOMPARE(recording.size(), 2);
}

void TestShortcutRecorder::resetGivesTheRowsOwnDefault() {
    const Shortcut esc{53, 0};
    RecorderFixture f(Shortcut{40, 0x900}, esc);
    QCOMPARE(f.button()->text(), QStringLiteral("Ctrl+Alt+K"));
    QCOMPARE(f.reset()->toolTip(), QStringLiteral("Reset to default (Esc)"));
    QTest::mouseClick(f.reset(), Qt::LeftButton);
    QCOMPARE(f.value, esc);
    QCOMPARE(f.button()->text(), QStringLiteral("Esc"));
}

void TestShortcutRecorder::anotherActionsShortcutIsRefusedByName() {
    const Shortcut ctrl2{19, 0x100};
    const Shortcut esc{53, 0};
    RecorderFixture f(esc, ctrl2, {{QStringLiteral("Transcribe Mode"), ctrl2}});
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QTest::keyClick(f.button(), Qt::Key_2, Qt::ControlModifier);
    QVERIFY(!f.recorder.isRecording());
    QCOMPARE(f.value, esc);
    QCOMPARE(f.writes, 0);
    QCOMPARE(f.errorLabel()->text(), QStringLiteral("Ctrl+2 is already used by Transcribe Mode"));
    QVERIFY(f.errorLabel()->isVisible());

    // The reset button is refused the same way when another action took this row's default.
    f.recorder.setError(std::nullopt);
    QTest::mouseClick(f.reset(), Qt::LeftButton);
    QCOMPARE(f.value, esc);
    QCOMPARE(f.recorder.error(), QStringLiteral("Ctrl+2 is already used by Transcribe Mode"));

    // A free combination is taken and clears the text.
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QTest::keyClick(f.button(), Qt::Key_3, Qt::ControlModifier);
    QCOMPARE(f.value, (Shortcut{20, 0x100}));
    QCOMPARE(f.recorder.error(), std::nullopt);
}

void TestShortcutRecorder::refusalTextComesAndGoes() {
    RecorderFixture f(Shortcut{19, 0x100});
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QTest::keyClick(f.button(), Qt::Key_W, Qt::ControlModifier);
    QVERIFY(f.recorder.error());

    // Escape leaves the text; an accepted capture removes it; so does the reset button.
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QTest::keyClick(f.button(), Qt::Key_Escape);
    QVERIFY(f.recorder.error());
    QTest::mouseClick(f.button(), Qt::LeftButton);
    QTest::keyClick(f.button(), Qt::Key_3, Qt::ControlModifier);
    QVERIFY(!f.recorder.error());
    QVERIFY(!f.errorLabel()->isVisible());
    QCOMPARE(f.value, (Shortcut{20, 0x100}));

    QTest::mouseClick(f.button(), Qt::LeftButton);
    QTest::keyClick(f.button(), Qt::Key_Tab, Qt::ControlModifier);
    QVERIFY(f.recorder.error());
    QTest::mouseClick(f.reset(), Qt::LeftButton);
    QVERIFY(!f.recorder.error());
    QCOMPARE(f.value, ctrl1);
}

void TestShortcutRecorder::hidingEndsRecording() {
    RecorderFixture f(ctrl1);
    QSignalSpy recording(&f.recorder, &ShortcutRecorderView::recordingChanged);
    QTest::mouseClick(f.button(), Qt::LeftButton);
    f.recorder.hide();
    QCOMPARE(recording.size(), 2);
    QVERIFY(!f.recorder.isRecording());
    QCOMPARE(f.value, ctrl1);
    f.recorder.show();
    QCOMPARE(f.button()->text(), QStringLiteral("Ctrl+1"));
}

QTEST_MAIN(TestShortcutRecorder)
#include "tst_shortcutrecorder.moc"
