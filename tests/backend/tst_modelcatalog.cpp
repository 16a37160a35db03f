#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "backend/AuthService.h"
#include "backend/ModelCatalog.h"
#include "backend/QuillAPIClient.h"
#include "platform/SettingsStore.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

using namespace quill;
using namespace quill::test;

namespace {

const QList<ModelInfo> builtIn = {{"gpt-5.2", "OpenAI GPT-5.2", false},
                                  {"grok-4-1-fast-non-reasoning-latest", "xAI Grok 4", false}};

// As the backend answers with a local model server.
const QByteArray localModels = R"({"models": [{"id": "llama3.2:latest", "name": "Llama 3.2", "local": true},
                                               {"id": "qwen2.5:7b", "name": "qwen2.5:7b", "local": true}],
                                   "transcription": null})";

ScriptedReply json(int status, const QByteArray& body) {
    return ScriptedReply::status(status, "application/json").write(body);
}

// The real client and sign-in against a scripted backend, with the user's stored choice in `chosen`.
struct Rig {
    Rig() { settings.setValue(QuillAPIClient::baseURLOverrideKey, server.baseUrl()); }

    // Creates the catalog, which asks the backend at once; true once it has answered.
    bool start() {
        if (!QTest::qWaitFor([this] { return auth.isAuthenticated(); }))
            return false;
        catalog = std::make_unique<ModelCatalog>(client, auth, builtIn, [this] { return chosen; });
        QSignalSpy changed(catalog.get(), &ModelCatalog::modelsChanged);
        return changed.wait(5000);
    }

    LogCapture log;
    FakeSecretStore secrets;
    FakeHostInfo host{QStringLiteral("box")};
    MemorySettingsStore settings;
    TestHttpServer server;
    QNetworkAccessManager network;
    QString chosen;
    QuillAPIClient client{[this] { return auth.bearerToken(); }, [this] { return catalog->effectiveModel(); },
                          settings, &network};
    AuthService auth{KeychainHelper(secrets), host, 0};
    std::unique_ptr<ModelCatalog> catalog;
};

} // namespace

class TestModelCatalog : public QObject {
    Q_OBJECT
private slots:
    void readsTheListAndLeavesOutWhatIsNotAModel();
    void refusesWhatIsNotAList();
    void requestsUseTheBackendsModelsAndAChoiceItDropsFallsBackOnce();
    void aBackendWithoutTheListKeepsTheBuiltInModelsAndTheStoredChoice();
    void aBackendWithoutAnyModelIsReported();
    void aBackendThatDoesNotAnswerIsAskedAgainAndKeepsWhatWasKnown();
};

void TestModelCatalog::readsTheListAndLeavesOutWhatIsNotAModel() {
    const auto list = parseModelList(R"({"models": [
        {"id": "llama3.2:latest", "name": "Llama 3.2", "local": true},
        {"id": "gpt-5.2"},
        {"id": "llama3.2:latest", "name": "Duplicate"},
        {"id": "", "name": "No id"},
        {"id": 42, "name": "Not a string"},
        {"id": "bad\u0007id"},
        {"id": "named-badly", "name": "Bell\u0007"},
        "not an object"],
      "transcription": {"id": "whisper-1", "name": "OpenAI Whisper", "local": false}})");
    QVERIFY(list);
    const QList<ModelInfo> expected = {{"llama3.2:latest", "Llama 3.2", true},
                                       {"gpt-5.2", "gpt-5.2", false},
                                       {"named-badly", "named-badly", false}};
    QCOMPARE(list->models, expected);
    QCOMPARE(list->transcription, (ModelInfo{"whisper-1", "OpenAI Whisper", false}));

    QByteArray many = R"({"models": [)";
    for (int i = 0; i < 100; ++i)
        many += QByteArray(i ? "," : "") + R"({"id": "m)" + QByteArray::number(i) + R"("})";
    many += R"(], "transcription": null})";
    const auto capped = parseModelList(many);
    QVERIFY(capped);
    QCOMPARE(capped->models.size(), ModelList::maxModels);
    QVERIFY(!capped->transcription);
}

void TestModelCatalog::refusesWhatIsNotAList() {
    for (const QByteArray& body : {QByteArray(), QByteArray("<html>"), QByteArray("[]"),
                                   QByteArray(R"({"models": {"id": "x"}})"), QByteArray(R"({"data": []})")})
        QVERIFY2(!parseModelList(body), body.constData());
    QByteArray huge = R"({"models": [], "padding": ")" + QByteArray(ModelList::maxReplyBytes, 'x') + R"("})";
    QVERIFY(!parseModelList(huge));
}

void TestModelCatalog::requestsUseTheBackendsModelsAndAChoiceItDropsFallsBackOnce() {
    Rig rig;
    rig.server.answer("/api/models", json(200, localModels));
    rig.chosen = QStringLiteral("gpt-5.2");
    QVERIFY(rig.start());

    const RecordedRequest& asked = rig.server.fixedRequests.constFirst();
    QCOMPARE(asked.method, QByteArray("GET"));
    QCOMPARE(asked.header("Authorization"),
             "Bearer " + rig.secrets.items.value("app.quillpoint.Quillpoint/quillpoint_auth_token"));
    QCOMPARE(asked.header("Content-Type"), QByteArray());
    QCOMPARE(rig.catalog->source(), ModelCatalog::Source::backend);
    QCOMPARE(rig.catalog->models().size(), 2);
    QCOMPARE(rig.catalog->models().constFirst(), (ModelInfo{"llama3.2:latest", "Llama 3.2", true}));

    // The stored choice is not offered: the backend's first model answers, the choice stays.
    QVERIFY(rig.catalog->choiceUnavailable());
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("llama3.2:latest"));
    rig.server.enqueue(ScriptedReply::status(200).write("data: [DONE]\n\n"));
    auto stream = rig.client.explain(QStringLiteral("words"), false);
    QVERIFY(stream.ok());
    QTRY_COMPARE(rig.server.requests.size(), 1);
    QCOMPARE(QJsonDocument::fromJson(rig.server.requests[0].body)["model"].toString(),
             QStringLiteral("llama3.2:latest"));

    // Told once, however often the list is asked for again.
    QSignalSpy changed(rig.catalog.get(), &ModelCatalog::modelsChanged);
    rig.catalog->refresh();
    QVERIFY(changed.wait(5000));
    const QStringList told = rig.log.lines.filter(QStringLiteral("does not offer"));
    QCOMPARE(told, QStringList{QStringLiteral("ModelCatalog: The backend does not offer the chosen model "
                                              "\"gpt-5.2\"; using \"Llama 3.2\" (llama3.2:latest) until "
                                              "another is chosen in Preferences")});

    rig.chosen = QStringLiteral("qwen2.5:7b");
    QVERIFY(!rig.catalog->choiceUnavailable());
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("qwen2.5:7b"));
    rig.chosen.clear();
    QVERIFY(!rig.catalog->choiceUnavailable());
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("llama3.2:latest"));
    QCOMPARE(rig.catalog->displayName(QStringLiteral("grok-4-1-fast-non-reasoning-latest")),
             QStringLiteral("xAI Grok 4"));
}

void TestModelCatalog::aBackendWithoutTheListKeepsTheBuiltInModelsAndTheStoredChoice() {
    Rig rig;
    rig.server.answer("/api/models", json(404, R"({"error": "Not found"})"));
    rig.chosen = QStringLiteral("some-future-model");
    QVERIFY(rig.start());
    QCOMPARE(rig.catalog->source(), ModelCatalog::Source::builtIn);
    QCOMPARE(rig.catalog->models(), builtIn);
    QVERIFY(!rig.catalog->choiceUnavailable());
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("some-future-model"));
    rig.chosen.clear();
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("gpt-5.2"));
    // A 404 is the answer of an older version, not a failure: it is not asked again.
    QSignalSpy changed(rig.catalog.get(), &ModelCatalog::modelsChanged);
    QVERIFY(!changed.wait(ModelCatalog::firstRetryMs + 500));
}

void TestModelCatalog::aBackendWithoutAnyModelIsReported() {
    Rig rig;
    rig.server.answer("/api/models", json(200, R"({"models": [], "transcription": null})"));
    QVERIFY(rig.start());
    QCOMPARE(rig.catalog->source(), ModelCatalog::Source::backendWithoutModels);
    QCOMPARE(rig.catalog->models(), builtIn);
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("gpt-5.2"));
    QVERIFY(!rig.catalog->transcriptionModel());
    QCOMPARE(rig.log.lines.filter(QStringLiteral("has no model")).size(), 1);
}

void TestModelCatalog::aBackendThatDoesNotAnswerIsAskedAgainAndKeepsWhatWasKnown() {
    Rig rig;
    rig.server.answer("/api/models", json(503, R"({"error": "starting"})"));
    QVERIFY(QTest::qWaitFor([&rig] { return rig.auth.isAuthenticated(); }));
    rig.catalog = std::make_unique<ModelCatalog>(rig.client, rig.auth, builtIn, [] { return QString(); });
    QSignalSpy changed(rig.catalog.get(), &ModelCatalog::modelsChanged);
    QTRY_VERIFY(!rig.server.fixedRequests.isEmpty());
    QCOMPARE(rig.catalog->source(), ModelCatalog::Source::builtIn);
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("gpt-5.2"));
    rig.server.answer("/api/models", json(200, localModels));
    QVERIFY(changed.wait(ModelCatalog::firstRetryMs + 3000));
    QCOMPARE(rig.catalog->source(), ModelCatalog::Source::backend);

    // A failure later leaves the list as it was.
    rig.server.answer("/api/models", json(503, R"({"error": "busy"})"));
    const qsizetype asked = rig.server.fixedRequests.size();
    const qsizetype changes = changed.size();
    rig.catalog->refresh();
    QTRY_VERIFY(rig.server.fixedRequests.size() > asked);
    QTest::qWait(200);
    QCOMPARE(changed.size(), changes);
    QCOMPARE(rig.catalog->source(), ModelCatalog::Source::backend);
    QCOMPARE(rig.catalog->effectiveModel(), QStringLiteral("llama3.2:latest"));
}

QTEST_MAIN(TestModelCatalog)
#include "tst_modelcatalog.moc"
