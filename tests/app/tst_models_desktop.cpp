#include "DesktopTools.h"
#include "TestBackend.h"
#include "TestHttpServer.h"
#include "app/AppDelegate.h"
#include "app/Services.h"
#include "backend/ModelCatalog.h"
#include "overlay/OverlayPanelController.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>
#include <memory>

using namespace quill;
using namespace quill::test;

namespace {

QWidget* preferencesWindow() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && widget->windowTitle() == QStringLiteral("Quillpoint Preferences"))
            return widget;
    }
    return nullptr;
}

QList<RecordedRequest> requestsTo(const TestHttpServer& server, const QByteArray& path) {
    QList<RecordedRequest> matching;
    for (const RecordedRequest& request : server.fixedRequests) {
        if (request.path == path)
            matching << request;
    }
    return matching;
}

} // namespace

// The backend's own models in the program: the reference backend on a loopback port, with a
// local model server in front of it that answers as Ollama's does (and serves speech too); the
// program on the test desktop with mousepad in front and speech in the microphone.
class TestModelsDesktop : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void preferencesOfferTheLocalModelsAndExplainUsesThem();
    void wordsToRecogniseReachTheSpeechServer();

private:
    QList<QJsonObject> backendRequestsTo(const QString& path) const;
    void explainTheDocument();

    TestHttpServer upstream;
    TestBackend backend;
    std::unique_ptr<EditedDocument> document;
    std::unique_ptr<MicFeeder> microphone;
    std::unique_ptr<Services> services;
    std::unique_ptr<AppDelegate> delegate;
};

void TestModelsDesktop::initTestCase() {
    upstream.answer("/v1/models",
                    ScriptedReply::status(200, "application/json").write(R"({"object": "list", "data": [
                                          {"id": "llama3.2:latest", "object": "model"},
                                          {"id": "nomic-embed-text:latest", "object": "model"},
                                          {"id": "qwen2.5:7b", "object": "model"}]})"));
    upstream.answer(
        "/v1/chat/completions",
        ScriptedReply::status(200).write(
            "data: {\"choices\":[{\"delta\":{\"content\":\"A local answer.\"}}]}\n\ndata: [DONE]\n\n"));
    upstream.answer("/v1/audio/transcriptions", ScriptedReply::status(200, "application/json")
                                                    .write(R"({"text": "Dictated with the right words."})"));
    const QString local = upstream.baseUrl() + QStringLiteral("/v1");
    QVERIFY(backend.start({"-QUILLPOINT_DEMO", "-OPENAI_API_KEY", "-OPENAI_BASE_URL", "-XAI_API_KEY",
                           "-XAI_BASE_URL", "-TRANSCRIBE_API_KEY", "QUILLPOINT_LOCAL_MODELS=" + local,
                           "TRANSCRIBE_BASE_URL=" + local}));
    QVERIFY(!writeProgramSettings(backend.baseUrl()).isEmpty());

    document = std::make_unique<EditedDocument>("Photosynthesis turns light into chemical energy.");
    QVERIFY(!document->window().isEmpty());
    microphone = std::make_unique<MicFeeder>(speechPcm("Quillpoint was written by Mister Mueller."));

    services = Services::forThisSession();
    delegate = std::make_unique<AppDelegate>(*services);
    delegate->applicationDidFinishLaunching();
    QTRY_COMPARE_WITH_TIMEOUT(delegate->modelCatalog()->source(), ModelCatalog::Source::backend, 10000);
}

void TestModelsDesktop::cleanupTestCase() {
    delegate.reset();
    services.reset();
    microphone.reset();
    document.reset();
}

QList<QJsonObject> TestModelsDesktop::backendRequestsTo(const QString& path) const {
    QList<QJsonObject> matching;
    for (const QJsonObject& request : backend.requests()) {
        if (request["path"].toString() == path)
            matching << request;
    }
    return matching;
}

void TestModelsDesktop::explainTheDocument() {
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+a"}));
    QVERIFY(xdotool({"key", "ctrl+1"}));
}

void TestModelsDesktop::preferencesOfferTheLocalModelsAndExplainUsesThem() {
    delegate->showPreferences();
    QWidget* window = preferencesWindow();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* model = window->findChild<QComboBox*>(QStringLiteral("model"));
    QVERIFY(model);
    // Named as the model server names them, without Ollama's ":latest"; no embedding model.
    QCOMPARE(model->count(), 2);
    QCOMPARE(model->itemText(0), QStringLiteral("llama3.2"));
    QCOMPARE(model->itemText(1), QStringLiteral("qwen2.5:7b"));
    QCOMPARE(model->currentText(), QStringLiteral("llama3.2"));
    QVERIFY(window->findChild<QLabel*>(QStringLiteral("modelNotice"))->isHidden());
    window->close();

    const ExplanationViewModel& viewModel = delegate->overlayPanelController()->viewModel();
    explainTheDocument();
    QTRY_COMPARE_WITH_TIMEOUT(backendRequestsTo("/api/explain").size(), 1, 15000);
    QCOMPARE(backendRequestsTo("/api/explain").constFirst()["json"]["model"].toString(),
             QStringLiteral("llama3.2:latest"));
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::content("A local answer."), 10000);
    const auto sent = requestsTo(upstream, "/v1/chat/completions");
    QCOMPARE(sent.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(sent.constFirst().body)["model"].toString(),
             QStringLiteral("llama3.2:latest"));

    // The other model, chosen in Preferences, answers the next explanation.
    delegate->showPreferences();
    model->setCurrentIndex(1);
    emit model->activated(1);
    window->close();
    explainTheDocument();
    QTRY_COMPARE_WITH_TIMEOUT(backendRequestsTo("/api/explain").size(), 2, 15000);
    QCOMPARE(backendRequestsTo("/api/explain").constLast()["json"]["model"].toString(),
             QStringLiteral("qwen2.5:7b"));
    QTRY_COMPARE(requestsTo(upstream, "/v1/chat/completions").size(), 2);
    QCOMPARE(QJsonDocument::fromJson(requestsTo(upstream, "/v1/chat/completions").constLast().body)["model"]
                 .toString(),
             QStringLiteral("qwen2.5:7b"));
}

void TestModelsDesktop::wordsToRecogniseReachTheSpeechServer() {
    delegate->showPreferences();
    QWidget* window = preferencesWindow();
    QVERIFY(window);
    window->findChild<QTabWidget*>()->setCurrentIndex(2);
    auto* words = window->findChild<QPlainTextEdit*>(QStringLiteral("vocabulary"));
    QVERIFY(words);
    words->insertPlainText(QStringLiteral("Quillpoint, Müller"));
    window->close();

    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+End"}));
    const QDir runtime(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    QVERIFY(xdotool({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(runtime.entryList({"quill_recording_*"}, QDir::Files).size(), 1, 5000);
    QTest::qWait(2000);
    QVERIFY(xdotool({"key", "ctrl+2"}));
    QTRY_COMPARE_WITH_TIMEOUT(requestsTo(upstream, "/v1/audio/transcriptions").size(), 1, 15000);
    const QByteArray form = requestsTo(upstream, "/v1/audio/transcriptions").constFirst().body;
    QVERIFY2(
        form.contains("name=\"prompt\"\r\n\r\n" + QStringLiteral("Quillpoint, Müller").toUtf8() + "\r\n"),
        form.left(2000).constData());

    QTest::qWait(1000);
    QVERIFY(xdotool({"windowactivate", "--sync", document->window()}));
    QVERIFY(xdotool({"key", "--clearmodifiers", "ctrl+s"}));
    QTRY_VERIFY_WITH_TIMEOUT(document->savedText().endsWith(QStringLiteral("Dictated with the right words.")),
                             5000);
}

QTEST_MAIN(TestModelsDesktop)
#include "tst_models_desktop.moc"
