#include "FakeAudio.h"
#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "backend/AuthService.h"
#include "backend/ModelCatalog.h"
#include "backend/QuillAPIClient.h"
#include "history/HistorySettings.h"
#include "platform/AutostartRegistrar.h"
#include "platform/SettingsStore.h"
#include "platform/xdg/XdgAutostartRegistrar.h"
#include "preferences/PreferencesManager.h"
#include "preferences/PreferencesView.h"
#include "preferences/PreferencesWindowController.h"
#include "shortcuts/ShortcutConfiguration.h"
#include "shortcuts/ShortcutNames.h"
#include "shortcuts/ShortcutRecorderView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

using namespace quill;
using namespace quill::test;

namespace {

QList<ModelInfo> builtInModels() {
    QList<ModelInfo> models;
    for (const ModelChoice& choice : availableModels)
        models.append({QString::fromLatin1(choice.identifier), QString::fromLatin1(choice.label), false});
    return models;
}

// The real stores over memory settings, a temporary autostart folder and an in-memory keyring,
// and the model list from a scripted backend (one that answers 404 unless given `models`).
struct Stores {
    explicit Stores(const QByteArray& models = {})
        : autostart(configHome.path(), QStringLiteral("app.quillpoint.Quillpoint"),
                    QStringLiteral("/opt/quillpoint/bin/quillpoint")) {
        settings.setValue(QuillAPIClient::baseURLOverrideKey, server.baseUrl());
        if (!models.isEmpty())
            server.answer("/api/models", ScriptedReply::status(200, "application/json").write(models));
    }

    // The model list once the backend has answered.
    ModelCatalog& catalog() {
        if (!m_catalog) {
            if (!QTest::qWaitFor([this] { return auth.isAuthenticated(); }))
                qWarning("not signed in: the backend is not asked for its models");
            m_catalog = std::make_unique<ModelCatalog>(client, auth, builtInModels(), [this] {
                return preferences.hasChosenModel() ? preferences.selectedModel() : QString();
            });
            QSignalSpy changed(m_catalog.get(), &ModelCatalog::modelsChanged);
            changed.wait(5000);
        }
        return *m_catalog;
    }

    QTemporaryDir configHome;
    MemorySettingsStore settings;
    XdgAutostartRegistrar autostart;
    FakeSecretStore secrets;
    FakeHostInfo host{QStringLiteral("box")};
    LogCapture log;
    ShortcutConfiguration shortcuts{settings};
    FakeKeyboardLayout layout;
    ShortcutNames names{layout};
    PreferencesManager preferences{settings, autostart};
    AuthService auth{KeychainHelper(secrets), host, 100};
    FakeAudioInputList audioInputs;
    HistorySettings history{settings};
    TestHttpServer server;
    QNetworkAccessManager network;
    QuillAPIClient client{[this] { return auth.bearerToken(); }, [] { return QString(); }, settings,
                          &network};

private:
    std::unique_ptr<ModelCatalog> m_catalog;
};

QPushButton* shortcutButton(QWidget* view, ShortcutAction action) {
    auto* recorder = view->findChild<ShortcutRecorderView*>(rawValue(action));
    return recorder ? recorder->findChild<QPushButton*>(QStringLiteral("shortcutButton")) : nullptr;
}

template <typename T> T* withText(QWidget* view, const QString& text) {
    for (T* widget : view->findChildren<T*>()) {
        if (widget->text() == text)
            return widget;
    }
    return nullptr;
}

QStringList shortcutEntries(const MemorySettingsStore& settings) {
    QStringList keys;
    for (const QString& key : settings.values().keys()) {
        if (key.startsWith(QStringLiteral("shortcut_")))
            keys.append(key);
    }
    keys.sort();
    return keys;
}

} // namespace

class TestPreferencesView : public QObject {
    Q_OBJECT
private slots:
    void emptyStoreShowsTheDefaults();
    void recordingSavesOnlyTheEditedAction();
    void followsChangesMadeElsewhere();
    void modelChoiceIsStoredAtOnce();
    void offersTheBackendsModelsAndSaysWhenTheChoiceIsGone();
    void saysWhenTheBackendHasNoModel();
    void launchAtLoginWritesTheAutostartEntry();
    void accountTabFollowsSignOutAndAutomaticSignIn();
    void signInButtonOnlyActsWhenSignedOut();
    void oneWindowReusedAfterClose();
    void recordingStateReachesTheController();
    void everyControlFitsTheWindow();
    void transcriptionTabEditsTheDictationSettings();
    void desktopKeepingTheKeysSaysSoAndOffersNoHoldToTalk();
    void historyTabEditsTheRetention();
    void wordsToRecogniseAreStoredAndBounded();
};

void TestPreferencesView::emptyStoreShowsTheDefaults() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    QCOMPARE(shortcutButton(&view, ShortcutAction::explainSelection)->text(), QStringLiteral("Ctrl+1"));
    QCOMPARE(shortcutButton(&view, ShortcutAction::transcribeOnly)->text(), QStringLiteral("Ctrl+2"));
    QCOMPARE(shortcutButton(&view, ShortcutAction::cancelTranscription)->text(), QStringLiteral("Esc"));
    for (const char* label : {"Explainer Mode", "Transcribe Mode", "Cancel Recording", "AI Model"})
        QVERIFY2(withText<QLabel>(&view, QString::fromLatin1(label)), label);
    QVERIFY(!withText<QCheckBox>(&view, QStringLiteral("Launch at Login"))->isChecked());
    QCOMPARE(view.findChild<QComboBox*>(QStringLiteral("model"))->currentText(),
             QStringLiteral("OpenAI GPT-5.2"));
    QCOMPARE(view.tabs()->count(), 4);
    QCOMPARE(view.tabs()->tabText(0), QStringLiteral("General"));
    QCOMPARE(view.tabs()->tabText(1), QStringLiteral("Account"));
    QCOMPARE(view.tabs()->tabText(2), QStringLiteral("Transcription"));
    QVERIFY(!view.tabs()->tabIcon(0).isNull());
    QVERIFY(!view.tabs()->tabIcon(1).isNull());
    QVERIFY(shortcutEntries(s.settings).isEmpty());
}

void TestPreferencesView::recordingSavesOnlyTheEditedAction() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    view.show();
    QSignalSpy published(&s.shortcuts, &ShortcutConfiguration::shortcutsChanged);
    QPushButton* transcribe = shortcutButton(&view, ShortcutAction::transcribeOnly);

    QTest::mouseClick(transcribe, Qt::LeftButton);
    QTest::keyClick(transcribe, Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    QCOMPARE(transcribe->text(), QStringLiteral("Ctrl+Alt+K"));
    QCOMPARE(s.shortcuts.shortcut(ShortcutAction::transcribeOnly), (Shortcut{40, 0x900}));
    QCOMPARE(shortcutEntries(s.settings),
             (QStringList{"shortcut_transcribeOnly_keyCode", "shortcut_transcribeOnly_modifiers"}));
    QCOMPARE(s.settings.values().value("shortcut_transcribeOnly_keyCode").toInt(), 40);
    QCOMPARE(s.settings.values().value("shortcut_transcribeOnly_modifiers").toInt(), 0x900);
    QCOMPARE(published.size(), 1);
    QCOMPARE(shortcutButton(&view, ShortcutAction::explainSelection)->text(), QStringLiteral("Ctrl+1"));
    QCOMPARE(shortcutButton(&view, ShortcutAction::cancelTranscription)->text(), QStringLiteral("Esc"));

    // The reset of the cancel row writes its own default, Esc, there and only there.
    auto* cancel = view.findChild<ShortcutRecorderView*>(QStringLiteral("cancelTranscription"));
    QTest::mouseClick(cancel->findChild<QToolButton*>(QStringLiteral("resetButton")), Qt::LeftButton);
    QCOMPARE(s.shortcuts.shortcut(ShortcutAction::cancelTranscription), (Shortcut{53, 0}));
    QCOMPARE(s.settings.values().value("shortcut_cancelTranscription_keyCode").toInt(), 53);
    QCOMPARE(s.settings.values().value("shortcut_cancelTranscription_modifiers").toInt(), 0);
    QVERIFY(!s.settings.values().contains("shortcut_explainSelection_keyCode"));
    QCOMPARE(s.settings.values().value("shortcut_transcribeOnly_keyCode").toInt(), 40);

    // A refused shortcut reaches neither the store nor the settings.
    QTest::mouseClick(transcribe, Qt::LeftButton);
    QTest::keyClick(transcribe, Qt::Key_Q, Qt::ControlModifier);
    QCOMPARE(s.shortcuts.shortcut(ShortcutAction::transcribeOnly), (Shortcut{40, 0x900}));
    QCOMPARE(published.size(), 2);

    // Nor does another action's shortcut, which is refused with that action's name.
    QTest::mouseClick(transcribe, Qt::LeftButton);
    QTest::keyClick(transcribe, Qt::Key_1, Qt::ControlModifier);
    QCOMPARE(s.shortcuts.shortcut(ShortcutAction::transcribeOnly), (Shortcut{40, 0x900}));
    QCOMPARE(view.findChild<ShortcutRecorderView*>(QStringLiteral("transcribeOnly"))->error(),
             QStringLiteral("Ctrl+1 is already used by Explainer Mode"));
    QCOMPARE(published.size(), 2);
}

void TestPreferencesView::followsChangesMadeElsewhere() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    s.shortcuts.setShortcut(ShortcutAction::explainSelection, Shortcut{96, 0x1200});
    QCOMPARE(shortcutButton(&view, ShortcutAction::explainSelection)->text(),
             QStringLiteral("Shift+Super+F5"));
    s.preferences.setSelectedModel(QStringLiteral("grok-4-1-fast-non-reasoning-latest"));
    auto* model = view.findChild<QComboBox*>(QStringLiteral("model"));
    QCOMPARE(model->currentText(), QStringLiteral("xAI Grok 4"));
    s.preferences.setLaunchAtLogin(true);
    QVERIFY(withText<QCheckBox>(&view, QStringLiteral("Launch at Login"))->isChecked());

    // A model this version does not offer stays stored; no choice is shown as selected.
    s.preferences.setSelectedModel(QStringLiteral("some-future-model"));
    QCOMPARE(model->currentIndex(), -1);
    QCOMPARE(s.settings.values().value("selectedModel").toString(), QStringLiteral("some-future-model"));
}

void TestPreferencesView::modelChoiceIsStoredAtOnce() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    view.show();
    QSignalSpy changed(&s.preferences, &PreferencesManager::selectedModelChanged);
    auto* model = view.findChild<QComboBox*>(QStringLiteral("model"));
    QCOMPARE(model->count(), 2);
    QCOMPARE(model->currentText(), QStringLiteral("OpenAI GPT-5.2"));
    model->setCurrentIndex(1);
    emit model->activated(1);
    QCOMPARE(s.settings.values().value("selectedModel").toString(),
             QStringLiteral("grok-4-1-fast-non-reasoning-latest"));
    model->setCurrentIndex(0);
    emit model->activated(0);
    QCOMPARE(s.settings.values().value("selectedModel").toString(), QStringLiteral("gpt-5.2"));
    QCOMPARE(changed.size(), 2);
    QVERIFY(view.findChild<QLabel*>(QStringLiteral("modelNotice"))->isHidden());
    QVERIFY(!withText<QPushButton>(&view, QStringLiteral("Save")));
}

void TestPreferencesView::offersTheBackendsModelsAndSaysWhenTheChoiceIsGone() {
    Stores s(R"({"models": [{"id": "llama3.2:latest", "name": "Llama 3.2", "local": true},
                            {"id": "gpt-5.2", "name": "OpenAI GPT-5.2", "local": false}],
                 "transcription": null})");
    s.preferences.setSelectedModel(QStringLiteral("grok-4-1-fast-non-reasoning-latest"));
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    auto* model = view.findChild<QComboBox*>(QStringLiteral("model"));
    auto* notice = view.findChild<QLabel*>(QStringLiteral("modelNotice"));
    QCOMPARE(model->count(), 2);
    QCOMPARE(model->itemText(0), QStringLiteral("Llama 3.2"));
    QVERIFY(!model->itemData(0, Qt::ToolTipRole).toString().isEmpty());
    QVERIFY(model->itemData(1, Qt::ToolTipRole).toString().isEmpty());
    // The backend's first model stands in, and the user is told; the stored choice stays.
    QCOMPARE(model->currentText(), QStringLiteral("Llama 3.2"));
    QVERIFY(!notice->isHidden());
    QCOMPARE(notice->text(),
             QStringLiteral("The backend no longer offers xAI Grok 4. Quillpoint uses Llama 3.2 "
                            "until you choose a model."));
    QCOMPARE(s.settings.values().value("selectedModel").toString(),
             QStringLiteral("grok-4-1-fast-non-reasoning-latest"));

    // Choosing the model shown settles it.
    emit model->activated(0);
    QCOMPARE(s.settings.values().value("selectedModel").toString(), QStringLiteral("llama3.2:latest"));
    QVERIFY(notice->isHidden());
}

void TestPreferencesView::saysWhenTheBackendHasNoModel() {
    Stores s(R"({"models": [], "transcription": null})");
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    auto* model = view.findChild<QComboBox*>(QStringLiteral("model"));
    QCOMPARE(model->count(), 2);
    QCOMPARE(model->currentText(), QStringLiteral("OpenAI GPT-5.2"));
    auto* notice = view.findChild<QLabel*>(QStringLiteral("modelNotice"));
    QVERIFY(!notice->isHidden());
    QVERIFY(notice->text().startsWith(QStringLiteral("The backend has no model to answer with.")));
}

void TestPreferencesView::launchAtLoginWritesTheAutostartEntry() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    view.show();
    auto* toggle = withText<QCheckBox>(&view, QStringLiteral("Launch at Login"));
    const QString entry = s.autostart.entryPath();
    const QPoint indicator(6, toggle->height() / 2);
    QTest::mouseClick(toggle, Qt::LeftButton, {}, indicator);
    QVERIFY(QFile::exists(entry));
    QCOMPARE(s.settings.values().value("launchAtLogin").toBool(), true);
    QTest::mouseClick(toggle, Qt::LeftButton, {}, indicator);
    QVERIFY(!QFile::exists(entry));
    QCOMPARE(s.settings.values().value("launchAtLogin").toBool(), false);
}

void TestPreferencesView::accountTabFollowsSignOutAndAutomaticSignIn() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    view.show();
    view.tabs()->setCurrentIndex(1);
    auto* state = view.findChild<QStackedWidget*>(QStringLiteral("accountState"));
    QCOMPARE(state->currentWidget()->objectName(), QStringLiteral("signedIn"));
    QVERIFY(withText<QLabel>(state->currentWidget(), QStringLiteral("Signed in")));
    auto* privacy = view.findChild<QLabel*>(QStringLiteral("privacyLabel"));
    QCOMPARE(privacy->text(), QStringLiteral("Your data is processed securely. We don't store your text."));
    QVERIFY(privacy->font().pointSizeF() < view.font().pointSizeF());

    QTest::mouseClick(withText<QPushButton>(&view, QStringLiteral("Sign Out")), Qt::LeftButton);
    QCOMPARE(state->currentWidget()->objectName(), QStringLiteral("signedOut"));
    QVERIFY(withText<QLabel>(state->currentWidget(), QStringLiteral("Sign in to use Quillpoint")));
    QVERIFY(withText<QPushButton>(state->currentWidget(), QStringLiteral("Sign in with Apple"))->isVisible());
    QTRY_COMPARE(state->currentWidget()->objectName(), QStringLiteral("signedIn"));
}

void TestPreferencesView::signInButtonOnlyActsWhenSignedOut() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    auto* signIn = withText<QPushButton>(&view, QStringLiteral("Sign in with Apple"));
    const int lines = s.log.lines.size();
    signIn->click();
    QCOMPARE(s.log.lines.size(), lines);

    s.auth.signOut();
    signIn->click();
    QTRY_VERIFY(s.auth.isAuthenticated());
    QCOMPARE(s.log.lines.size(), lines + 1);
    QCOMPARE(view.findChild<QStackedWidget*>(QStringLiteral("accountState"))->currentWidget()->objectName(),
             QStringLiteral("signedIn"));
}

void TestPreferencesView::oneWindowReusedAfterClose() {
    Stores s;
    PreferencesWindowController controller(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs,
                                           s.catalog(), s.history);
    QVERIFY(!controller.window());
    controller.showPreferences();
    PreferencesView* window = controller.window();
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), QStringLiteral("Quillpoint Preferences"));
    QCOMPARE(window->size(), QSize(420, 280));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    QVERIFY(window->windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(window->windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));

    controller.showPreferences();
    QCOMPARE(controller.window(), window);
    window->tabs()->setCurrentIndex(1);
    QVERIFY(window->close());
    QVERIFY(!window->isVisible());
    controller.showPreferences();
    QCOMPARE(controller.window(), window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->tabs()->currentIndex(), 1);
}

void TestPreferencesView::recordingStateReachesTheController() {
    Stores s;
    PreferencesWindowController controller(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs,
                                           s.catalog(), s.history);
    QSignalSpy recording(&controller, &PreferencesWindowController::shortcutRecordingChanged);
    controller.showPreferences();
    QPushButton* explain = shortcutButton(controller.window(), ShortcutAction::explainSelection);
    QPushButton* transcribe = shortcutButton(controller.window(), ShortcutAction::transcribeOnly);

    QTest::mouseClick(explain, Qt::LeftButton);
    QTest::mouseClick(transcribe, Qt::LeftButton);
    QCOMPARE(recording.size(), 1);
    QCOMPARE(recording.at(0).at(0).toBool(), true);
    QTest::keyClick(transcribe, Qt::Key_Escape);
    QCOMPARE(recording.size(), 1);

    // Closing the window ends the recording that is left, so the shortcuts come back.
    controller.window()->close();
    QCOMPARE(recording.size(), 2);
    QCOMPARE(recording.at(1).at(0).toBool(), false);
    QCOMPARE(s.shortcuts.shortcut(ShortcutAction::explainSelection), (Shortcut{18, 0x100}));
}

void TestPreferencesView::everyControlFitsTheWindow() {
    Stores s;
    PreferencesWindowController controller(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs,
                                           s.catalog(), s.history);
    controller.showPreferences();
    PreferencesView* window = controller.window();
    for (int tab = 0; tab < window->tabs()->count(); ++tab) {
        window->tabs()->setCurrentIndex(tab);
        QVERIFY(QTest::qWaitForWindowExposed(window));
        auto* scroll = window->tabs()->currentWidget()->findChild<QScrollArea*>();
        for (QWidget* control : window->tabs()->currentWidget()->findChildren<QWidget*>()) {
            if (!control->isVisible() ||
                !(qobject_cast<QAbstractButton*>(control) || qobject_cast<QLabel*>(control)))
                continue;
            // Fully on screen once scrolled to, and not squeezed below the size the control needs.
            const QString name = control->objectName() + u' ' + control->metaObject()->className();
            if (scroll)
                scroll->ensureWidgetVisible(control, 0, 0);
            QVERIFY2(control->visibleRegion() == QRegion(control->rect()), qPrintable(name));
            QVERIFY2(control->height() >= control->minimumSizeHint().height(), qPrintable(name));
        }
    }
}

void TestPreferencesView::transcriptionTabEditsTheDictationSettings() {
    Stores s;
    s.audioInputs.list = {{"alsa_input.usb-headset", "USB Headset"}};
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    QCOMPARE(s.audioInputs.watchCalls, 1);
    auto* hold = view.findChild<QCheckBox*>("holdToTalk");
    auto* keep = view.findChild<QCheckBox*>("keepClipboard");
    auto* microphone = view.findChild<QComboBox*>("microphone");
    auto* language = view.findChild<QComboBox*>("language");
    QVERIFY(hold && keep && microphone && language);
    QVERIFY(!hold->isChecked() && !keep->isChecked());
    QCOMPARE(microphone->currentText(), QStringLiteral("System default"));
    QCOMPARE(language->currentText(), QStringLiteral("Detect automatically"));

    // Inputs come and go while the window is open.
    s.audioInputs.set({{"alsa_input.usb-headset", "USB Headset"}, {"alsa_input.webcam", "Webcam"}});
    QCOMPARE(microphone->count(), 3);
    microphone->setCurrentIndex(2);
    emit microphone->activated(2);
    QCOMPARE(s.settings.values().value("transcriptionMicrophone"), QVariant("alsa_input.webcam"));
    // Unplugged, the choice stays, for when it comes back.
    s.audioInputs.set({{"alsa_input.usb-headset", "USB Headset"}});
    QCOMPARE(microphone->currentText(), QStringLiteral("alsa_input.webcam (not connected)"));
    QCOMPARE(s.preferences.microphone(), QStringLiteral("alsa_input.webcam"));
    s.audioInputs.set({{"alsa_input.webcam", "Webcam"}});
    QCOMPARE(microphone->currentText(), QStringLiteral("Webcam"));

    const int german = language->findData(QStringLiteral("de"));
    QVERIFY(german > 0);
    language->setCurrentIndex(german);
    emit language->activated(german);
    QCOMPARE(s.settings.values().value("transcriptionLanguage"), QVariant("de"));
    hold->click();
    keep->click();
    QCOMPARE(s.settings.values().value("transcriptionHoldToTalk"), QVariant(true));
    QCOMPARE(s.settings.values().value("transcriptionKeepClipboard"), QVariant(true));

    // A second view (the window made again) shows what is stored.
    PreferencesView again(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    QVERIFY(again.findChild<QCheckBox*>("holdToTalk")->isChecked());
    QCOMPARE(again.findChild<QComboBox*>("language")->currentData(), QVariant("de"));
    QCOMPARE(again.findChild<QComboBox*>("microphone")->currentText(), QStringLiteral("Webcam"));
}

void TestPreferencesView::desktopKeepingTheKeysSaysSoAndOffersNoHoldToTalk() {
    Stores s;
    s.preferences.setHoldToTalk(true);
    PreferencesView usual(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    QVERIFY(!usual.findChild<QLabel*>("shortcutSettingsNote"));
    QVERIFY(!usual.findChild<QLabel*>("holdToTalkUnavailable"));

    s.preferences.setShortcutHost(false, QStringLiteral("Set in GNOME's keyboard settings"));
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    auto* note = view.findChild<QLabel*>("shortcutSettingsNote");
    QVERIFY(note);
    QCOMPARE(note->text(), QStringLiteral("Set in GNOME's keyboard settings"));
    auto* hold = view.findChild<QCheckBox*>("holdToTalk");
    QVERIFY(!hold->isEnabled() && !hold->isChecked());
    QVERIFY(view.findChild<QLabel*>("holdToTalkUnavailable"));
    // The stored choice stays for a desktop that reports key releases.
    QCOMPARE(s.settings.values().value("transcriptionHoldToTalk"), QVariant(true));
    QVERIFY(s.preferences.holdToTalk());
}

void TestPreferencesView::historyTabEditsTheRetention() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    QCOMPARE(view.tabs()->tabText(3), QStringLiteral("History"));
    auto* enabled = view.findChild<QCheckBox*>("historyEnabled");
    auto* days = view.findChild<QSpinBox*>("historyKeepDays");
    auto* entries = view.findChild<QSpinBox*>("historyKeepEntries");
    QVERIFY(enabled && days && entries);
    QVERIFY(enabled->isChecked());
    QCOMPARE(days->value(), 30);
    QCOMPARE(entries->value(), 1000);

    enabled->click();
    QCOMPARE(s.settings.values().value("historyEnabled"), QVariant(false));
    // Typing "5000" passes through 5, 50 and 500: only the finished number counts.
    entries->setFocus();
    entries->selectAll();
    QTest::keyClicks(entries, "5000");
    QVERIFY(!s.settings.values().contains("historyKeepEntries"));
    QTest::keyClick(entries, Qt::Key_Return);
    QCOMPARE(s.settings.values().value("historyKeepEntries"), QVariant(5000));
    days->setValue(7);
    QCOMPARE(s.history.retention().days, 7);

    s.history.setKeepDays(90);
    QCOMPARE(days->value(), 90);
    s.history.setEnabled(true);
    QVERIFY(enabled->isChecked());
}

void TestPreferencesView::wordsToRecogniseAreStoredAndBounded() {
    Stores s;
    PreferencesView view(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    auto* words = view.findChild<QPlainTextEdit*>(QStringLiteral("vocabulary"));
    auto* limit = view.findChild<QLabel*>(QStringLiteral("vocabularyLimit"));
    QVERIFY(words && limit);
    QVERIFY(words->toPlainText().isEmpty());

    words->setFocus();
    QTest::keyClicks(words, QStringLiteral("Quillpoint, gRPC, "));
    // Stored as typed, the trailing space aside, which stays in the editor for the next word.
    QCOMPARE(s.settings.values().value("transcriptionVocabulary"), QVariant("Quillpoint, gRPC,"));
    QCOMPARE(words->toPlainText(), QStringLiteral("Quillpoint, gRPC, "));
    QVERIFY(limit->isHidden());

    // Too long: the editor keeps everything and says what is kept.
    const QString longList = QString(990, u'x') + QStringLiteral(", Kubernetes");
    words->setPlainText(longList);
    QCOMPARE(words->toPlainText(), longList);
    QVERIFY(!limit->isHidden());
    QCOMPARE(limit->text(),
             QStringLiteral(
                 "Only the first 1,000 characters are kept; shorten the list to keep what matters most."));
    QCOMPARE(s.preferences.transcriptionVocabulary(), longList.left(1000));

    PreferencesView again(s.shortcuts, s.names, s.preferences, s.auth, s.audioInputs, s.catalog(), s.history);
    QCOMPARE(again.findChild<QPlainTextEdit*>(QStringLiteral("vocabulary"))->toPlainText(),
             longList.left(1000));
    // A change made elsewhere shows.
    s.preferences.setTranscriptionVocabulary(QStringLiteral("Kubernetes"));
    QCOMPARE(words->toPlainText(), QStringLiteral("Kubernetes"));
    QVERIFY(limit->isHidden());
}

QTEST_MAIN(TestPreferencesView)
#include "tst_preferencesview.moc"
