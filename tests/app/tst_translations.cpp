#include "FakeAudio.h"
#include "FakePlatform.h"
#include "app/StatusBarController.h"
#include "app/Translations.h"
#include "backend/AuthService.h"
#include "backend/ModelCatalog.h"
#include "backend/QuillAPIClient.h"
#include "history/HistorySettings.h"
#include "platform/SettingsStore.h"
#include "platform/xdg/XdgAutostartRegistrar.h"
#include "preferences/PreferencesManager.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindowController.h"
#include "shortcuts/ShortcutConfiguration.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>

using namespace quill;
using namespace quill::test;

namespace {

QStringList menuTitles(const QMenu* menu) {
    QStringList titles;
    for (const QAction* action : menu->actions()) {
        if (!action->isSeparator())
            titles << action->text();
    }
    return titles;
}

QStringList labels(const QWidget* view) {
    QStringList texts;
    for (const QLabel* label : view->findChildren<QLabel*>())
        texts << label->text();
    return texts;
}

} // namespace

// The German translation as a user of a German session meets it, and the English texts kept
// for everyone else.
class TestTranslations : public QObject {
    Q_OBJECT
private slots:
    void cleanup();
    void germanSessionGetsGermanMenuAndPreferences();
    void englishFirstKeepsTheEnglishTexts_data();
    void englishFirstKeepsTheEnglishTexts();
    void germanTranslationCoversEverySourceText();
};

void TestTranslations::cleanup() {
    for (QTranslator* translator : qApp->findChildren<QTranslator*>()) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
}

void TestTranslations::germanSessionGetsGermanMenuAndPreferences() {
    installTranslations(*qApp, QLocale(QStringLiteral("de_AT")));

    FakeSecretStore secrets;
    FakeHostInfo host{QStringLiteral("box")};
    LogCapture log;
    AuthService auth{KeychainHelper(secrets), host, 100};
    FakeKeyboardLayout layout;
    ShortcutNames names{layout};
    StatusBarController controller(
        {18, 0x100}, {19, 0x100}, StatusBarController::UpdateCheck::offered, [] { return false; }, auth,
        names);
    controller.buildMenu();
    QCOMPARE(menuTitles(controller.menu()),
             (QStringList{"Quillpoint", "Erklärmodus", "Diktiermodus", "Letzte Antwort anzeigen",
                          "⚠ Barrierefreiheit erforderlich", "✓ Angemeldet", "Verlauf …", "Einstellungen …",
                          "Nach Aktualisierungen suchen …", "Quillpoint beenden"}));
    QCOMPARE(controller.tooltipText(), QStringLiteral("Quillpoint – Ctrl+1 Erklären | Ctrl+2 Diktieren"));

    QTemporaryDir configHome;
    MemorySettingsStore settings;
    XdgAutostartRegistrar autostart(configHome.path(), QStringLiteral("app.quillpoint.Quillpoint"),
                                    QStringLiteral("/usr/bin/quillpoint"));
    ShortcutConfiguration shortcuts{settings};
    PreferencesManager preferences{settings, autostart};
    FakeAudioInputList audioInputs;
    // Nothing listens there: the built-in models are offered.
    settings.setValue(QuillAPIClient::baseURLOverrideKey, QStringLiteral("http://127.0.0.1:9"));
    QuillAPIClient client([&auth] { return auth.bearerToken(); }, [] { return QString(); }, settings);
    ModelCatalog models(client, auth, {{"gpt-5.2", "OpenAI GPT-5.2", false}}, [] { return QString(); });
    HistorySettings history{settings};
    PreferencesView view(shortcuts, names, preferences, auth, audioInputs, models, history);
    QCOMPARE(view.tabs()->tabText(0), QStringLiteral("Allgemein"));
    QCOMPARE(view.tabs()->tabText(1), QStringLiteral("Konto"));
    const QStringList texts = labels(&view);
    for (const char* german :
         {"Erklärmodus", "Diktiermodus", "Aufnahme abbrechen", "KI-Modell", "Angemeldet"})
        QVERIFY2(texts.contains(QString::fromUtf8(german)), qPrintable(texts.join(u'|')));
    QCOMPARE(view.tabs()->widget(0)->findChild<QCheckBox*>()->text(),
             QStringLiteral("Beim Anmelden starten"));
    QCOMPARE(PreferencesWindowController::windowTitle(), QStringLiteral("Quillpoint-Einstellungen"));
}

void TestTranslations::englishFirstKeepsTheEnglishTexts_data() {
    QTest::addColumn<QString>("locale");
    QTest::newRow("English") << "en_GB";
    QTest::newRow("no translation") << "fi_FI";
    QTest::newRow("C") << "C";
}

void TestTranslations::englishFirstKeepsTheEnglishTexts() {
    QFETCH(QString, locale);
    installTranslations(*qApp, QLocale(locale));
    QVERIFY(qApp->findChildren<QTranslator*>().isEmpty());
    QCOMPARE(PreferencesWindowController::windowTitle(), QStringLiteral("Quillpoint Preferences"));
}

// A text added to the sources without a German translation shows up here, not in a German menu.
void TestTranslations::germanTranslationCoversEverySourceText() {
    QTemporaryDir dir;
    const QString ts = dir.filePath(QStringLiteral("quillpoint_de.ts"));
    QVERIFY(QFile::copy(QStringLiteral(QUILL_SOURCE_DIR "/translations/quillpoint_de.ts"), ts));
    QFile::setPermissions(ts, QFile::ReadOwner | QFile::WriteOwner);
    QProcess lupdate;
    lupdate.setProcessChannelMode(QProcess::MergedChannels);
    lupdate.start(QStringLiteral(QUILL_LUPDATE), {"-silent", "-locations", "none", "-no-obsolete",
                                                  QStringLiteral(QUILL_SOURCE_DIR "/src"), "-ts", ts});
    QVERIFY(lupdate.waitForFinished(60000));
    QCOMPARE(lupdate.exitCode(), 0);
    QFile file(ts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    QVERIFY(text.count("<message>") > 80);
    QVERIFY2(!text.contains("type=\"unfinished\""), text.constData());
}

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
