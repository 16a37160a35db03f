#include "DesktopTools.h"
#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "app/ActionSequence.h"
#include "app/AppDelegate.h"
#include "app/Services.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "history/HistoryStore.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/PlatformFactory.h"
#include "platform/SettingsStore.h"
#include "preferences/ActionStore.h"
#include "preferences/ActionsPreferencesView.h"
#include "preferences/PreferencesView.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace quill;
using namespace quill::test;

namespace {

const QByteArray actionsFile = R"({"actions": [
  {"id": "fix", "name": "Fix spelling and grammar", "instruction": "Correct the spelling.", "shortcut": "Ctrl+3",
   "result": "replace", "enabled": true},
  {"id": "tl", "name": "Translate into English", "instruction": "Translate into English.",
   "shortcut": "Ctrl+4", "result": "panel", "enabled": true},
  {"id": "cp", "name": "Summarize", "instruction": "Summarize.", "result": "copy", "enabled": true}
]})";

QByteArray piece(const QString& text) {
    const QJsonObject delta{{"content", text}};
    const QJsonObject choice{{"delta", delta}};
    return "data: " +
           QJsonDocument(QJsonObject{{"choices", QJsonArray{choice}}}).toJson(QJsonDocument::Compact) +
           "\n\n";
}

// An answer in two pieces with `pauseMs` between them.
ScriptedReply answer(const QString& first, const QString& second, int pauseMs = 0) {
    ScriptedReply reply = ScriptedReply::status(200);
    reply.write(piece(first));
    if (pauseMs > 0)
        reply.pause(pauseMs);
    reply.write(piece(second)).write("data: [DONE]\n\n");
    return reply;
}

} // namespace

// The delegate on the test desktop with its real platform, mousepad in front and a scripted
// backend: the user's actions as the user meets them.
class TestActionsDesktop : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void replaceChangesTheSelectionAsOneUndoableEditAndKeepsTheClipboard();
    void aPanelActionStreamsAndLeavesTheTextAlone();
    void aSelectionChangedMeanwhileIsNotOverwritten();
    void aDismissedPreviewPastesNothing();
    void aCopyActionPutsTheResultOnTheClipboard();
    void anInvalidFileIsReportedAndLeftAlone();

private:
    void launch();
    QJsonObject lastRequest() const;
    void saveDocument();

    QTemporaryDir dir;
    TestHttpServer backend;
    std::unique_ptr<EditedDocument> document;
    std::unique_ptr<Services> services;
    std::unique_ptr<AppDelegate> delegate;
    const QString original = QStringLiteral("Teh wether is nice todya.");
};

void TestActionsDesktop::init() {
    backend.requests.clear();
    backend.answer("/api/models", ScriptedReply::status(404, "application/json").write("{}"));
    QFile file(dir.filePath(QStringLiteral("actions.json")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(actionsFile);
    file.close();
    document = std::make_unique<EditedDocument>(original.toUtf8());
    QVERIFY(!document->window().isEmpty());
}

void TestActionsDesktop::cleanup() {
    delegate.reset();
    services.reset();
    document.reset();
}

void TestActionsDesktop::launch() {
    Platform platform = platform::createPlatform(platform::detectSession());
    auto settings = std::make_unique<MemorySettingsStore>();
    settings->setValue(QuillAPIClient::baseURLOverrideKey, backend.baseUrl());
    platform.settingsStore = std::move(settings);
    platform.secretStore = std::make_unique<FakeSecretStore>();
    Services::Options options;
    options.processId = QCoreApplication::applicationPid();
    options.authRecheckDelayMs = 0;
    options.historyPath = dir.filePath(QStringLiteral("history.sqlite3"));
    options.actionsPath = dir.filePath(QStringLiteral("actions.json"));
    services = std::make_unique<Services>(std::move(platform), options);
    delegate = std::make_unique<AppDelegate>(*services);
    delegate->applicationDidFinishLaunching();
    QTRY_VERIFY(services->authService().isAuthenticated());
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
}

QJsonObject TestActionsDesktop::lastRequest() const {
    for (auto it = backend.requests.crbegin(); it != backend.requests.crend(); ++it) {
        if (it->path == "/api/explain")
            return QJsonDocument::fromJson(it->body).object();
    }
    return {};
}

void TestActionsDesktop::saveDocument() {
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+s"}));
}

void TestActionsDesktop::replaceChangesTheSelectionAsOneUndoableEditAndKeepsTheClipboard() {
    launch();
    QGuiApplication::clipboard()->setText(QStringLiteral("the user's own clipboard"));
    QSignalSpy replaced(delegate->actionSequence(), &ActionSequence::replaceEnded);
    backend.enqueue(answer(QStringLiteral("The weather"), QStringLiteral(" is nice today.")));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QVERIFY(xdotool({"key", "ctrl+3"}));

    QTRY_VERIFY_WITH_TIMEOUT(!lastRequest().isEmpty(), 10000);
    QCOMPARE(lastRequest()["text"].toString(), original);
    QCOMPARE(lastRequest()["instruction"].toString(), QStringLiteral("Correct the spelling."));
    QTRY_COMPARE_WITH_TIMEOUT(replaced.size(), 1, 15000);
    QCOMPARE(replaced.at(0).at(0).toBool(), true);

    // The program's paste keystrokes have no end the test can see; ours must not fall among them.
    QTest::qWait(1000);
    saveDocument();
    QTRY_COMPARE_WITH_TIMEOUT(document->savedText(), QStringLiteral("The weather is nice today."), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(),
                              QStringLiteral("the user's own clipboard"), 5000);

    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+z"}));
    saveDocument();
    QTRY_COMPARE_WITH_TIMEOUT(document->savedText(), original, 5000);

    // Kept before it was pasted.
    const QList<HistoryEntry> kept = services->historyStore().find(QString());
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.at(0).output, QStringLiteral("The weather is nice today."));
    QCOMPARE(kept.at(0).action, QStringLiteral("Fix spelling and grammar"));
}

void TestActionsDesktop::aPanelActionStreamsAndLeavesTheTextAlone() {
    launch();
    backend.enqueue(answer(QStringLiteral("The weather"), QStringLiteral(" is nice."), 1500));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QVERIFY(xdotool({"key", "ctrl+4"}));

    const ExplanationViewModel& viewModel = delegate->overlayPanelController()->viewModel();
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::content(QStringLiteral("The weather")),
                              10000);
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(),
                              ExplanationState::content(QStringLiteral("The weather is nice.")), 10000);
    QCOMPARE(lastRequest()["instruction"].toString(), QStringLiteral("Translate into English."));
    QVERIFY(delegate->overlayPanelController()->panel()->isVisible());

    // Its panel offers Copy and Paste, not Explain's request for more detail.
    QCOMPARE(viewModel.mode(), ViewMode::transcribe);
    saveDocument();
    QTest::qWait(1000);
    QCOMPARE(document->savedText(), original);
}

void TestActionsDesktop::aSelectionChangedMeanwhileIsNotOverwritten() {
    launch();
    QSignalSpy replaced(delegate->actionSequence(), &ActionSequence::replaceEnded);
    backend.enqueue(answer(QStringLiteral("Replaced"), QStringLiteral(" text."), 2500));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QVERIFY(xdotool({"key", "ctrl+3"}));
    const ExplanationViewModel& viewModel = delegate->overlayPanelController()->viewModel();
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::content(QStringLiteral("Replaced")),
                              10000);

    // The user selects another part while the answer streams.
    QVERIFY(xdotool({"key", "--clearmodifiers", "End"}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+shift+Left"}));

    QTRY_COMPARE_WITH_TIMEOUT(replaced.size(), 1, 15000);
    QCOMPARE(replaced.at(0).at(0).toBool(), false);
    QVERIFY(viewModel.state().text().contains(QStringLiteral("Replaced text.")));
    QVERIFY(delegate->overlayPanelController()->panel()->isVisible());
    saveDocument();
    QTest::qWait(1000);
    QCOMPARE(document->savedText(), original);
}

void TestActionsDesktop::aDismissedPreviewPastesNothing() {
    launch();
    QSignalSpy replaced(delegate->actionSequence(), &ActionSequence::replaceEnded);
    backend.enqueue(answer(QStringLiteral("Replaced"), QStringLiteral(" text."), 1500));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QVERIFY(xdotool({"key", "ctrl+3"}));
    OverlayPanelController& overlay = *delegate->overlayPanelController();
    QTRY_COMPARE_WITH_TIMEOUT(overlay.viewModel().state(),
                              ExplanationState::content(QStringLiteral("Replaced")), 10000);
    overlay.hide();

    QTest::qWait(3000);
    QCOMPARE(replaced.size(), 0);
    QVERIFY(!overlay.panel()->isVisible());
    saveDocument();
    QTest::qWait(1000);
    QCOMPARE(document->savedText(), original);
}

void TestActionsDesktop::aCopyActionPutsTheResultOnTheClipboard() {
    launch();
    backend.enqueue(answer(QStringLiteral("Short"), QStringLiteral(" summary.")));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    delegate->performUserAction(QStringLiteral("cp"));
    QTRY_COMPARE_WITH_TIMEOUT(QGuiApplication::clipboard()->text(), QStringLiteral("Short summary."), 10000);
    const ExplanationViewModel& viewModel = delegate->overlayPanelController()->viewModel();
    QTRY_COMPARE(viewModel.notice(), std::optional<QString>(QStringLiteral("Copied to the clipboard.")));
    // Copy in the panel takes the answer alone.
    QCOMPARE(viewModel.state().text(), QStringLiteral("Short summary."));

    // An action that is not there is named, and nothing is asked of the backend.
    const qsizetype asked = backend.requests.size();
    delegate->performUserAction(QStringLiteral("nope"));
    QTRY_VERIFY(viewModel.state().text().contains(QStringLiteral("Unknown action \"nope\"")));
    QCOMPARE(backend.requests.size(), asked);
}

void TestActionsDesktop::anInvalidFileIsReportedAndLeftAlone() {
    const QByteArray broken =
        R"({"actions": [{"id": "fix", "name": "Fix", "instruction": "x", "result": "swap"}]})";
    {
        QFile file(dir.filePath(QStringLiteral("actions.json")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(broken);
    }
    launch();
    delegate->showPreferences();
    ActionsPreferencesView* view = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!view)
            view = widget->findChild<ActionsPreferencesView*>();
    }
    QVERIFY(view);
    QVERIFY2(view->problemLabel()->text().contains(QStringLiteral("actions[0]")),
             qPrintable(view->problemLabel()->text()));
    QVERIFY(view->problemLabel()->text().contains(dir.filePath(QStringLiteral("actions.json"))));

    // The built-ins stand in; turning one on is refused rather than written over the file.
    QCOMPARE(view->list()->count(), 4);
    view->list()->item(0)->setCheckState(Qt::Checked);
    QFile file(dir.filePath(QStringLiteral("actions.json")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), broken);
    QVERIFY(view->problemLabel()->text().contains(QStringLiteral("not saved")));
}

QTEST_MAIN(TestActionsDesktop)
#include "tst_actions_desktop.moc"
