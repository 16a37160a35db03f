#include "FakePlatform.h"
#include "app/AppDelegate.h"
#include "app/FrontApplicationTracker.h"
#include "app/Services.h"
#include "app/TranscribeSequence.h"
#include "backend/AuthService.h"
#include "platform/PlatformFactory.h"
#include "platform/SettingsStore.h"

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

// A program of the desktop and its top-level window.
struct DesktopProgram {
    explicit DesktopProgram(const QString& program, const QString& windowClass) {
        process.start(program, {});
        window = xdotool({"search", "--sync", "--onlyvisible", "--class", windowClass}).split(u'\n').last();
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

private:
    std::unique_ptr<AppDelegate> launch();

    std::unique_ptr<Services> services;
};

std::unique_ptr<AppDelegate> TestFrontAppDesktop::launch() {
    // The session's own platform, with settings and keyring kept in memory.
    Platform platform = platform::createPlatform(platform::detectSession());
    platform.settingsStore = std::make_unique<MemorySettingsStore>();
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
    DesktopProgram editor(QStringLiteral("mousepad"), QStringLiteral("mousepad"));
    DesktopProgram terminal(QStringLiteral("xterm"), QStringLiteral("xterm"));
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
    QTest::qWait(200);
    QCOMPARE(delegate->frontApplication()->lastActiveAppPID(), terminal.process.processId());

    xdotool({"windowactivate", "--sync", editor.window});
    QTRY_COMPARE(delegate->frontApplication()->lastActiveAppPID(), editor.process.processId());
}

void TestFrontAppDesktop::transcribeShortcutTogglesFromAnyApplication() {
    DesktopProgram editor(QStringLiteral("mousepad"), QStringLiteral("mousepad"));
    xdotool({"windowactivate", "--sync", editor.window});
    const auto delegate = launch();
    xdotool({"key", "ctrl+2"});
    QTRY_VERIFY(delegate->transcribeSequence()->isTranscribing());
    xdotool({"key", "ctrl+2"});
    QTRY_VERIFY(!delegate->transcribeSequence()->isTranscribing());
}

QTEST_MAIN(TestFrontAppDesktop)
#include "tst_frontapp_desktop.moc"
