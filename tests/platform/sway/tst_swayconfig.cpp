#include "platform/sway/SwayConfigBindings.h"
#include "platform/sway/SwayTree.h"

#include <QJsonDocument>
#include <QtTest>

using namespace quill;

Q_DECLARE_METATYPE(quill::KeyCombination)

class TestSwayConfig : public QObject {
    Q_OBJECT

private slots:
    void theDefaultModesBindingsAreFound_data() {
        QTest::addColumn<QString>("config");
        QTest::addColumn<QList<KeyCombination>>("bound");
        const KeyCombination ctrl1{Qt::Key_1, Qt::ControlModifier};
        const KeyCombination superReturn{Qt::Key_Return, Qt::MetaModifier};
        QTest::newRow("plain, options, comments")
            << QStringLiteral("# bindsym Ctrl+2 exec foot\n"
                              "  bindsym --to-code --no-warn Control+1 exec foot\n"
                              "bindsym Mod4+Return exec foot\n")
            << QList<KeyCombination>{ctrl1, superReturn};
        QTest::newRow("variables, the longest name first")
            << QStringLiteral("set $mod Mod4\nset $modifier Ctrl\nbindsym $modifier+1 exec a\nbindsym "
                              "$mod+Return exec b\n")
            << QList<KeyCombination>{ctrl1, superReturn};
        QTest::newRow("by key code, a block and a continued line")
            << QStringLiteral("bindcode Ctrl+10 exec a\nbindsym {\n    Mod4+Return exec b\n"
                              "    Mod1+Shift+q \\\n        kill\n}\n")
            << QList<KeyCombination>{ctrl1, superReturn, {Qt::Key_Q, Qt::AltModifier | Qt::ShiftModifier}};
        QTest::newRow("punctuation by its xkb name")
            << QStringLiteral(
                   "bindsym Ctrl+minus exec a\nbindsym Ctrl+bracketleft exec b\nbindsym Escape exec c\n")
            << QList<KeyCombination>{{Qt::Key_Minus, Qt::ControlModifier},
                                     {Qt::Key_BracketLeft, Qt::ControlModifier},
                                     {Qt::Key_Escape, {}}};
        QTest::newRow("other modes, bars and unknown keys are left out")
            << QStringLiteral(
                   "mode \"resize\" {\n    bindsym Ctrl+1 resize shrink width 10px\n    bindsym {\n"
                   "        Escape mode default\n    }\n}\nbar {\n    bindsym button1 nop\n}\n"
                   "bindsym Mod5+1 exec a\nbindsym XF86AudioMute exec b\nbindsym Ctrl+1 exec c\n")
            << QList<KeyCombination>{ctrl1};
    }

    void theDefaultModesBindingsAreFound() {
        QFETCH(QString, config);
        QFETCH(QList<KeyCombination>, bound);
        const auto found = sway::boundCombinations(config);
        QCOMPARE(QList<KeyCombination>(found.begin(), found.end()), bound);
    }

    void aCombinationIsWrittenByKeyCode() {
        QCOMPARE(sway::bindcodeCombination({Qt::Key_2, Qt::ControlModifier | Qt::MetaModifier}),
                 QStringLiteral("Ctrl+Mod4+11"));
        QCOMPARE(sway::bindcodeCombination({Qt::Key_Escape, {}}), QStringLiteral("9"));
    }

    void theFocusedWindowIsFoundAmongTiledAndFloatingOnes() {
        const auto tree = QJsonDocument::fromJson(R"({"type": "root", "focused": false, "nodes": [
            {"type": "output", "name": "__i3", "nodes": []},
            {"type": "output", "focused": false, "rect": {"x": 0, "y": 0, "width": 1280, "height": 800}, "nodes": [
                {"type": "workspace", "focused": false, "nodes": [
                    {"type": "con", "focused": false, "rect": {"x": 0, "y": 0, "width": 640, "height": 800}}],
                 "floating_nodes": [
                    {"type": "floating_con", "focused": true,
                     "rect": {"x": 100, "y": 50, "width": 400, "height": 300}}]}]}]})");
        QCOMPARE(sway::focusedWindowRect(tree.object()), std::optional(QRect(100, 50, 400, 300)));

        // A focused workspace (an empty one) is no window.
        const auto empty = QJsonDocument::fromJson(
            R"({"type": "root", "nodes": [{"type": "workspace", "focused": true,
                "rect": {"x": 0, "y": 0, "width": 1280, "height": 800}}]})");
        QCOMPARE(sway::focusedWindowRect(empty.object()), std::nullopt);
    }
};

QTEST_GUILESS_MAIN(TestSwayConfig)
#include "tst_swayconfig.moc"
