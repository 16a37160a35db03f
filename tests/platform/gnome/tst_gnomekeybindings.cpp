#include "platform/gnome/GnomeAccelerator.h"
#include "platform/gnome/GnomeKeybindings.h"

#include <QTest>
#include <gio/gio.h>

using namespace quill;

namespace {

const QString userPath = GnomeKeybindings::customPath + QStringLiteral("custom0/");

void setStrings(const char* schema, const char* key, const QStringList& values, const char* path = nullptr) {
    GSettings* settings = path ? g_settings_new_with_path(schema, path) : g_settings_new(schema);
    std::vector<QByteArray> bytes;
    std::vector<const gchar*> pointers;
    bytes.reserve(values.size());
    pointers.reserve(values.size() + 1);
    for (const QString& value : values)
        bytes.push_back(value.toUtf8());
    for (const QByteArray& value : bytes)
        pointers.push_back(value.constData());
    pointers.push_back(nullptr);
    g_settings_set_strv(settings, key, pointers.data());
    g_object_unref(settings);
}

QStringList strings(const char* schema, const char* key) {
    GSettings* settings = g_settings_new(schema);
    gchar** values = g_settings_get_strv(settings, key);
    QStringList result;
    for (gchar** value = values; *value; ++value)
        result << QString::fromUtf8(*value);
    g_strfreev(values);
    g_object_unref(settings);
    return result;
}

QString customValue(const QString& path, const char* key) {
    GSettings* settings = g_settings_new_with_path(GnomeKeybindings::customSchema.toUtf8().constData(),
                                                   path.toUtf8().constData());
    gchar* value = g_settings_get_string(settings, key);
    QString result = QString::fromUtf8(value);
    g_free(value);
    g_object_unref(settings);
    return result;
}

void setCustom(const QString& path, const QString& name, const QString& binding) {
    GSettings* settings = g_settings_new_with_path(GnomeKeybindings::customSchema.toUtf8().constData(),
                                                   path.toUtf8().constData());
    g_settings_set_string(settings, "name", name.toUtf8().constData());
    g_settings_set_string(settings, "binding", binding.toUtf8().constData());
    g_settings_set_string(settings, "command", "gnome-terminal");
    g_object_unref(settings);
}

KeyCombination ctrl(Qt::Key key) {
    return {key, Qt::ControlModifier};
}

} // namespace

class TestGnomeKeybindings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // Settings in memory: the user's own dconf database is never touched.
        qputenv("GSETTINGS_BACKEND", "memory");
        if (!GnomeKeybindings::available())
            QSKIP("GNOME's media-keys schemas are not installed");
    }

    void init() {
        setStrings(GnomeKeybindings::mediaKeysSchema.toUtf8().constData(), "custom-keybindings", {userPath});
        setCustom(userPath, QStringLiteral("Terminal"), QStringLiteral("<Primary><Alt>t"));
        setStrings("org.gnome.desktop.wm.keybindings", "switch-to-workspace-1", {});
    }

    void acceleratorsAreWrittenAndReadAsGnomeDoes() {
        QCOMPARE(gnome::acceleratorFor(ctrl(Qt::Key_1)), QStringLiteral("<Control>1"));
        QCOMPARE(gnome::acceleratorFor({Qt::Key_Escape, {}}), QStringLiteral("Escape"));
        QCOMPARE(
            gnome::acceleratorFor({Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier | Qt::MetaModifier}),
            QStringLiteral("<Control><Shift><Super>a"));
        QCOMPARE(gnome::acceleratorFor({Qt::Key_unknown, Qt::ControlModifier}), QString());

        // GNOME's own spellings of the same combination.
        for (const char* same : {"<Control>1", "<Primary>1", "<ctrl>1", "<Ctl>1"})
            QVERIFY2(gnome::acceleratorMatches(QString::fromLatin1(same), ctrl(Qt::Key_1)), same);
        QVERIFY(gnome::acceleratorMatches(QStringLiteral("<Super><Shift>A"),
                                          {Qt::Key_A, Qt::ShiftModifier | Qt::MetaModifier}));
        QVERIFY(gnome::acceleratorMatches(QStringLiteral("<Alt>F4"), {Qt::Key_F4, Qt::AltModifier}));
        QVERIFY(gnome::acceleratorMatches(QStringLiteral("Escape"), {Qt::Key_Escape, {}}));
        // Other modifiers, other keys, and what is no accelerator at all.
        for (const char* other : {"1", "<Control><Shift>1", "<Control>2", "<Mod5><Control>1", "<Control>", "",
                                  "disabled", "<Control", "/org/gnome/x/"})
            QVERIFY2(!gnome::acceleratorMatches(QString::fromLatin1(other), ctrl(Qt::Key_1)), other);
    }

    void oursAreAddedBesideTheUsersAndTakenOutAlone() {
        GnomeKeybindings bindings(QStringLiteral("quillpoint-"));
        bindings.set(QStringLiteral("quillpoint-control-1"), QStringLiteral("Quillpoint: Explain"),
                     QStringLiteral("run 1"), QStringLiteral("<Control>1"));
        bindings.set(QStringLiteral("quillpoint-escape"), QStringLiteral("Quillpoint"),
                     QStringLiteral("run esc"), QStringLiteral("Escape"));
        const QString ours = GnomeKeybindings::customPath + QStringLiteral("quillpoint-control-1/");
        QCOMPARE(strings(GnomeKeybindings::mediaKeysSchema.toUtf8().constData(), "custom-keybindings"),
                 (QStringList{userPath, ours,
                              GnomeKeybindings::customPath + QStringLiteral("quillpoint-escape/")}));
        QCOMPARE(customValue(ours, "binding"), QStringLiteral("<Control>1"));
        QCOMPARE(customValue(ours, "command"), QStringLiteral("run 1"));

        // Changing one keeps a single entry for it.
        bindings.set(QStringLiteral("quillpoint-control-1"), QStringLiteral("Quillpoint: Explain"),
                     QStringLiteral("run 1"), QStringLiteral("<Control>1"));
        QCOMPARE(bindings.ids(),
                 (QStringList{QStringLiteral("quillpoint-control-1"), QStringLiteral("quillpoint-escape")}));

        bindings.remove(QStringLiteral("quillpoint-escape"));
        QCOMPARE(bindings.ids(), QStringList{QStringLiteral("quillpoint-control-1")});
        // A later run finds what this one left behind and takes it out; the user's binding stays.
        GnomeKeybindings(QStringLiteral("quillpoint-")).removeAll();
        QCOMPARE(strings(GnomeKeybindings::mediaKeysSchema.toUtf8().constData(), "custom-keybindings"),
                 QStringList{userPath});
        QCOMPARE(customValue(userPath, "binding"), QStringLiteral("<Primary><Alt>t"));
        QCOMPARE(customValue(ours, "binding"), QString());
    }

    void keysGnomeOrTheUserBoundAreReportedWithTheirOwner() {
        GnomeKeybindings bindings(QStringLiteral("quillpoint-"));
        auto boundTo = [&bindings](const KeyCombination& combination) {
            return bindings.boundElsewhere([&combination](const QString& bound) {
                return gnome::acceleratorMatches(bound, combination);
            });
        };
        QCOMPARE(boundTo({Qt::Key_T, Qt::ControlModifier | Qt::AltModifier}), QStringLiteral("Terminal"));
        QCOMPARE(boundTo(ctrl(Qt::Key_1)), std::nullopt);
        setStrings("org.gnome.desktop.wm.keybindings", "switch-to-workspace-1",
                   {QStringLiteral("<Control>1")});
        QCOMPARE(boundTo(ctrl(Qt::Key_1)), QStringLiteral("switch-to-workspace-1"));
        // Our own bindings do not count against us.
        bindings.set(QStringLiteral("quillpoint-control-2"), QStringLiteral("Quillpoint"),
                     QStringLiteral("run"), QStringLiteral("<Control>2"));
        QCOMPARE(boundTo(ctrl(Qt::Key_2)), std::nullopt);
        bindings.removeAll();
    }
};

QTEST_GUILESS_MAIN(TestGnomeKeybindings)
#include "tst_gnomekeybindings.moc"
