#include "FakePlatform.h"
#include "TestHttpServer.h"
#include "app/AppDelegate.h"
#include "app/ExplainSequence.h"
#include "app/FrontApplicationTracker.h"
#include "app/Services.h"
#include "app/TranscribeSequence.h"
#include "backend/AuthService.h"
#include "backend/QuillAPIClient.h"
#include "overlay/OverlayPanelController.h"
#include "platform/PlatformFactory.h"
#include "platform/SettingsStore.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <memory>

using namespace quill;
using namespace quill::test;

namespace {

QString xdotool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

// Each test's editor is a process of its own rather than a window of one that runs already.
const QStringList kOwnInstance{QStringLiteral("--disable-server")};

// A program of the desktop and its top-level window, found by its process: the previous test's
// window of the same class can still be listed a moment after its program was killed (Explain
// then went to the terminal, left in front, about 1 run in 6 under load).
struct DesktopProgram {
    DesktopProgram(const QString& program, const QStringList& arguments, const QString& windowClass) {
        process.start(program, arguments);
        process.waitForStarted();
        window = xdotool({"search", "--sync", "--onlyvisible", "--pid", QString::number(process.processId()),
                          "--class", windowClass})
                     .split(u'\n')
                     .last();
    }
    ~DesktopProgram() {
        process.kill();
        process.waitForFinished();
    }
    QProcess process;
    QString window;
};

} // namespace

// The delegate on the test desktop with the real front-window tracker and key grabber.
class TestFrontAppDesktop : public QObject {
    Q_OBJECT
private slots:
    void lastActiveApplicationFollowsActivationsOfOtherPrograms();
    void transcribeShortcutTogglesFromAnyApplication();
    void explainReadsOnlyTheWindowInFront();

private:
    std::unique_ptr<AppDelegate> launch(const QString& backendUrl = {});

    std::unique_ptr<Services> services;
};

std::unique_ptr<AppDelegate> TestFrontAppDesktop::launch(const QString& backendUrl) {
    // The session's own platform, with settings and keyring kept in memory.
    Platform platform = platform::createPlatform(platform::detectSession());
    auto settings = std::make_unique<MemorySettingsStore>();
    if (!backendUrl.isEmpty())
        settings->setValue(QuillAPIClient::baseURLOverrideKey, backendUrl);
    platform.settingsStore = std::move(settings);
    platform.secretStore = std::make_unique<FakeSecretStore>();
    Services::Options options;
    options.processId = QCoreApplication::applicationPid();
    options.authRecheckDelayMs = 0;
    services = std::make_unique<Services>(std::move(platform), options);
    auto delegate = std::make_unique<AppDelegate>(*services);
    delegate->applicationDidFinishLaunching();
    return delegate;
}

void TestFrontAppDesktop::lastActiveApplicationFollowsActivationsOfOtherPrograms() {
    DesktopProgram editor(QStringLiteral("mousepad"), kOwnInstance, QStringLiteral("mousepad"));
    DesktopProgram terminal(QStringLiteral("xterm"), {}, QStringLiteral("xterm"));
    xdotool({"windowactivate", "--sync", editor.window});
    const auto delegate = launch();
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), editor.process.processId());

    xdotool({"windowactivate", "--sync", terminal.window});
    QTRY_COMPARE(delegate->frontApplication()->lastActiveAppPID(), terminal.process.processId());

    QWidget own;
    own.setWindowTitle(QStringLiteral("own window"));
    own.show();
    QVERIFY(QTest::qWaitForWindowExposed(&own));
    xdotool({"windowactivate", "--sync", QString::number(own.winId())});
    QTRY_VERIFY(own.isActiveWindow());
    QTest::qWait(200); // our own window in front never becomes the application to read
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), terminal.process.processId());

    xdotool({"windowactivate", "--sync", editor.window});
    QTRY_COMPARE(delegate->frontApplication()->lastActiveAppPID(), editor.process.processId());
}

void TestFrontAppDesktop::transcribeShortcutTogglesFromAnyApplication() {
    DesktopProgram editor(QStringLiteral("mousepad"), kOwnInstance, QStringLiteral("mousepad"));
    xdotool({"windowactivate", "--sync", editor.window});
    const auto delegate = launch();
    xdotool({"key", "ctrl+2"});
    QTRY_VERIFY(delegate->transcribeSequence()->isTranscribing());
    xdotool({"key", "ctrl+2"});
    QTRY_VERIFY(!delegate->transcribeSequence()->isTranscribing());
}

void TestFrontAppDesktop::explainReadsOnlyTheWindowInFront() {
    TestHttpServer backend;
    backend.answer("/api/models", ScriptedReply::status(404, "application/json").write("{}"));
    DesktopProgram editor(QStringLiteral("mousepad"), kOwnInstance, QStringLiteral("mousepad"));
    DesktopProgram terminal(QStringLiteral("xterm"), {}, QStringLiteral("xterm"));
    xdotool({"windowactivate", "--sync", editor.window});
    xdotool({"type", "--delay", "5", "Words selected in the editor"});
    xdotool({"key", "--clearmodifiers", "ctrl+a"});
    const auto delegate = launch(backend.baseUrl());
    QTRY_VERIFY(services->authService().isAuthenticated());
    const ExplanationViewModel& viewModel = delegate->overlayPanelController()->viewModel();

    // The terminal in front has nothing selected; the editor's selection is not its.
    xdotool({"windowactivate", "--sync", terminal.window});
    xdotool({"key", "ctrl+1"});
    QTRY_COMPARE_WITH_TIMEOUT(viewModel.state(), ExplanationState::error(QStringLiteral("No text selected")),
                              10000);
    QCOMPARE(backend.requests.size(), 0);

    backend.enqueue(ScriptedReply::status(200).write("data: [DONE]\n\n"));
    xdotool({"windowactivate", "--sync", editor.window});
    xdotool({"key", "ctrl+1"});
    QTRY_COMPARE_WITH_TIMEOUT(backend.requests.size(), 1, 10000);
    QCOMPARE(QJsonDocument::fromJson(backend.requests[0].body)["text"].toString(),
             QStringLiteral("Words selected in the editor"));
}

QTEST_MAIN(TestFrontAppDesktop)
#include "tst_frontapp_desktop.moc"
