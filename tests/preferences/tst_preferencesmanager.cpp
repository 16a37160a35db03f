#include "platform/PlatformNull.h"
#include "platform/SettingsStore.h"
#include "platform/xdg/XdgAutostartRegistrar.h"
#include "preferences/PreferencesManager.h"
#include "preferences/TranscriptionLanguages.h"

#include <QCollator>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>

using namespace quill;

class TestPreferencesManager : public QObject {
    Q_OBJECT
private slots:
    void freshStoreWritesNothing();
    void modelChoicePersists();
    void launchAtLoginTogglesTheAutostartEntry();
    void autostartEntryQuotesTheProgramPath();
    void dictationSettingsDefaultToTodaysBehaviourAndPersist();
    void wordsToRecogniseAreBounded();
    void languagesAreNamedInTheUsersLanguage();
    void autostartEntrySwitchedOffByAnotherToolCountsAsOff_data();
    void autostartEntrySwitchedOffByAnotherToolCountsAsOff();
};

void TestPreferencesManager::dictationSettingsDefaultToTodaysBehaviourAndPersist() {
    MemorySettingsStore settings;
    NullAutostartRegistrar autostart;
    PreferencesManager prefs(settings, autostart);
    QCOMPARE(prefs.holdToTalk(), false);
    QCOMPARE(prefs.microphone(), QString());
    QCOMPARE(prefs.transcriptionLanguage(), QString());
    QCOMPARE(prefs.keepClipboard(), false);

    prefs.setHoldToTalk(true);
    prefs.setMicrophone("alsa_input.usb-headset");
    prefs.setTranscriptionLanguage("fr");
    prefs.setKeepClipboard(true);
    QCOMPARE(settings.values().value("transcriptionHoldToTalk"), QVariant(true));
    QCOMPARE(settings.values().value("transcriptionMicrophone"), QVariant("alsa_input.usb-headset"));
    QCOMPARE(settings.values().value("transcriptionLanguage"), QVariant("fr"));
    QCOMPARE(settings.values().value("transcriptionKeepClipboard"), QVariant(true));
    const PreferencesManager again(settings, autostart);
    QVERIFY(again.holdToTalk() && again.keepClipboard());
    QCOMPARE(again.microphone(), QStringLiteral("alsa_input.usb-headset"));
    QCOMPARE(again.transcriptionLanguage(), QStringLiteral("fr"));

    // A hand-edited value that is no language code would only make the backend refuse every
    // upload: it reads as automatic detection.
    for (const char* stored : {"french", "FR", "f", "&x=1", "\u00e9t"}) {
        settings.setValue("transcriptionLanguage", QString::fromUtf8(stored));
        QCOMPARE(PreferencesManager(settings, autostart).transcriptionLanguage(), QString());
    }
}

void TestPreferencesManager::wordsToRecogniseAreBounded() {
    MemorySettingsStore settings;
    NullAutostartRegistrar autostart;
    PreferencesManager prefs(settings, autostart);
    QCOMPARE(prefs.transcriptionVocabulary(), QString());
    QSignalSpy changed(&prefs, &PreferencesManager::transcriptionVocabularyChanged);
    prefs.setTranscriptionVocabulary(QStringLiteral("  Quillpoint, Müller\nKubernetes\t\r\agRPC \n"));
    QCOMPARE(prefs.transcriptionVocabulary(), QStringLiteral("Quillpoint, Müller\nKubernetes\t  gRPC"));
    QCOMPARE(settings.values().value("transcriptionVocabulary"), QVariant(prefs.transcriptionVocabulary()));
    QCOMPARE(changed.size(), 1);
    // Only a change of what is kept is a change.
    prefs.setTranscriptionVocabulary(prefs.transcriptionVocabulary() + QStringLiteral("  "));
    QCOMPARE(changed.size(), 1);

    // Never more than the limit, and never half a character: the emoji at the cut is left out whole.
    const QString upToTheCut = QString(999, u'a');
    const QString words = upToTheCut + QStringLiteral("\U0001F600 and more");
    prefs.setTranscriptionVocabulary(words);
    QCOMPARE(prefs.transcriptionVocabulary(), upToTheCut);
    QCOMPARE(PreferencesManager::boundedVocabulary(QString(1500, u'b')).size(), 1000);

    // A hand-edited file is read the same way.
    settings.setValue("transcriptionVocabulary", QString(1200, u'c'));
    QCOMPARE(PreferencesManager(settings, autostart).transcriptionVocabulary(), QString(1000, u'c'));
}

void TestPreferencesManager::languagesAreNamedInTheUsersLanguage() {
    const auto german = transcriptionLanguages(QLocale(QLocale::German));
    const auto named = [&](const QString& code) {
        const auto it = std::ranges::find(german, code, &LanguageChoice::code);
        return it == german.end() ? QString() : it->name;
    };
    QCOMPARE(named("de"), QStringLiteral("Deutsch"));
    QCOMPARE(named("en"), QStringLiteral("Englisch"));
    QCOMPARE(named("fr"), QStringLiteral("Franz\u00f6sisch"));
    QCOMPARE(transcriptionLanguages(QLocale(QLocale::English)).constFirst().name,
             QStringLiteral("Afrikaans"));
    // Every code is one the backend takes, and sorted by name.
    const QCollator collator{QLocale(QLocale::German)};
    for (qsizetype i = 0; i < german.size(); ++i) {
        QVERIFY2(german[i].code.size() == 2 && german[i].code == german[i].code.toLower(),
                 qPrintable(german[i].code));
        if (i > 0)
            QVERIFY(collator.compare(german[i - 1].name, german[i].name) <= 0);
    }
}

void TestPreferencesManager::freshStoreWritesNothing() {
    MemorySettingsStore settings;
    NullAutostartRegistrar autostart;
    PreferencesManager prefs(settings, autostart);
    QCOMPARE(prefs.launchAtLogin(), false);
    QCOMPARE(prefs.selectedModel(), QStringLiteral("gpt-5.2"));
    QVERIFY(settings.values().isEmpty());
    QCOMPARE(QString::fromLatin1(availableModels[0].label), QStringLiteral("OpenAI GPT-5.2"));
    QCOMPARE(QString::fromLatin1(availableModels[1].label), QStringLiteral("xAI Grok 4"));
}

void TestPreferencesManager::modelChoicePersists() {
    MemorySettingsStore settings;
    NullAutostartRegistrar autostart;
    PreferencesManager prefs(settings, autostart);
    QVERIFY(!prefs.hasChosenModel());
    QSignalSpy changed(&prefs, &PreferencesManager::selectedModelChanged);
    prefs.setSelectedModel(QStringLiteral("grok-4-1-fast-non-reasoning-latest"));
    QVERIFY(prefs.hasChosenModel());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(settings.values().value("selectedModel").toString(),
             QStringLiteral("grok-4-1-fast-non-reasoning-latest"));
    QCOMPARE(PreferencesManager(settings, autostart).selectedModel(),
             QStringLiteral("grok-4-1-fast-non-reasoning-latest"));

    // An unknown identifier is kept as it is: the backend decides what it means.
    settings.setValue("selectedModel", "some-future-model");
    QCOMPARE(PreferencesManager(settings, autostart).selectedModel(), QStringLiteral("some-future-model"));
}

void TestPreferencesManager::launchAtLoginTogglesTheAutostartEntry() {
    QTemporaryDir config;
    MemorySettingsStore settings;
    XdgAutostartRegistrar autostart(config.path(), "app.quillpoint.Quillpoint", "/usr/bin/quillpoint");
    PreferencesManager prefs(settings, autostart);
    const QString entry = config.path() + "/autostart/app.quillpoint.Quillpoint.desktop";

    prefs.setLaunchAtLogin(true);
    QCOMPARE(settings.values().value("launchAtLogin").toBool(), true);
    QFile file(entry);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QVERIFY(text.startsWith("[Desktop Entry]\n"));
    QVERIFY(text.contains("\nExec=/usr/bin/quillpoint\n"));
    QVERIFY(text.contains("\nType=Application\n"));

    prefs.setLaunchAtLogin(false);
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(settings.values().value("launchAtLogin").toBool(), false);
    prefs.setLaunchAtLogin(false); // removing an absent entry is fine
    QVERIFY(settings.values().contains("launchAtLogin"));
    QCOMPARE(PreferencesManager(settings, autostart).launchAtLogin(), false);
}

void TestPreferencesManager::autostartEntryQuotesTheProgramPath() {
    QTemporaryDir config;
    XdgAutostartRegistrar autostart(config.path(), "app.quillpoint.Quillpoint", "/opt/My Apps/quill\"point%");
    QVERIFY(autostart.setEnabled(true));
    QFile file(autostart.entryPath());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(file.readAll()).contains("\nExec=\"/opt/My Apps/quill\\\"point%%\"\n"));
    QVERIFY(autostart.isEnabled());
}

void TestPreferencesManager::autostartEntrySwitchedOffByAnotherToolCountsAsOff_data() {
    QTest::addColumn<QByteArray>("entry");
    QTest::addColumn<bool>("enabled");
    const QByteArray head = "[Desktop Entry]\nType=Application\nName=Quillpoint\nExec=/usr/bin/quillpoint\n";
    QTest::newRow("as written") << head + "X-GNOME-Autostart-enabled=true\n" << true;
    QTest::newRow("GNOME switch off") << head + "X-GNOME-Autostart-enabled=false\n" << false;
    QTest::newRow("hidden") << head + "Hidden=true\n" << false;
    QTest::newRow("hidden, spaced") << head + "Hidden = true\n" << false;
    QTest::newRow("not hidden") << head + "Hidden=false\n" << true;
    QTest::newRow("hidden action only") << head + "\n[Desktop Action Explain]\nHidden=true\n" << true;
    QTest::newRow("no entry") << QByteArray() << false;
}

void TestPreferencesManager::autostartEntrySwitchedOffByAnotherToolCountsAsOff() {
    QFETCH(QByteArray, entry);
    QFETCH(bool, enabled);
    QTemporaryDir config;
    XdgAutostartRegistrar autostart(config.path(), "app.quillpoint.Quillpoint", "/usr/bin/quillpoint");
    if (!entry.isEmpty()) {
        QVERIFY(QDir().mkpath(config.path() + "/autostart"));
        QFile file(autostart.entryPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(entry);
    }
    MemorySettingsStore settings;
    settings.setValue("launchAtLogin", true);
    QCOMPARE(autostart.isEnabled(), enabled);
    PreferencesManager prefs(settings, autostart);
    QCOMPARE(prefs.launchAtLogin(), enabled);

    // Turning it on again writes an entry that every desktop starts.
    prefs.setLaunchAtLogin(true);
    QVERIFY(autostart.isEnabled());
    QVERIFY(PreferencesManager(settings, autostart).launchAtLogin());
}

QTEST_GUILESS_MAIN(TestPreferencesManager)
#include "platform/xdg/XdgAutostartRegistrar.h"
#include "tst_preferencesmanager.moc"
