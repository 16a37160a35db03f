#include "QuillpointApp.h"

#include "AppDelegate.h"
#include "ApplicationBusObject.h"
#include "Services.h"
#include "Translations.h"
#include "platform/AppInfo.h"
#include "platform/InstanceGuard.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"

#include <QDeadlineTimer>
#include <QIcon>
#include <QThread>
#include <QTimer>
#include <utility>

namespace quill {

QuillpointApp::QuillpointApp(int& argc, char** argv) : QApplication(argc, argv) {
    setOrganizationName(QStringLiteral("Quillpoint"));
    setApplicationName(QStringLiteral("Quillpoint"));
    setApplicationVersion(QStringLiteral(QUILLPOINT_VERSION));
    setDesktopFileName(bundleIdentifier());
    setWindowIcon(QIcon(QStringLiteral(":/icons/quillpoint.svg")));
    setQuitOnLastWindowClosed(false);
    qSetMessagePattern(QString::fromLatin1(logMessagePattern));
    installTranslations(*this);
}

QuillpointApp::~QuillpointApp() = default;

namespace {

constexpr int forwardTimeoutMs = 2000;
constexpr int startupWaitMs = 3000;

int handOver(std::optional<RemoteAction> action) {
    if (!action) {
        logLine(lcApp(), QStringLiteral("QuillpointApp"), QStringLiteral("Quillpoint is already running"));
        return 1;
    }
    const QString error = ApplicationBusObject::forward(bundleIdentifier(), action, forwardTimeoutMs);
    if (error.isEmpty())
        return 0;
    logLine(lcApp(), QStringLiteral("QuillpointApp"),
            QStringLiteral("Could not pass --%1 to the running Quillpoint: %2")
                .arg(remoteActionName(*action), error));
    return 1;
}

} // namespace

int QuillpointApp::forwardOnly(std::optional<RemoteAction> action) {
    if (!action || !ApplicationBusObject::isRunning(bundleIdentifier(), forwardTimeoutMs))
        return 1;
    return handOver(action);
}

int QuillpointApp::run(std::optional<RemoteAction> action) {
    if (ApplicationBusObject::isRunning(bundleIdentifier(), forwardTimeoutMs))
        return handOver(action);
    m_instanceGuard = std::make_unique<InstanceGuard>(InstanceGuard::defaultLockPath(bundleIdentifier()));
    if (!m_instanceGuard->tryAcquire()) {
        // The holder may still be starting (a key binding pressed twice in quick succession) and
        // not yet on the bus.
        QDeadlineTimer starting(startupWaitMs);
        while (action && !starting.hasExpired() &&
               !ApplicationBusObject::isRunning(bundleIdentifier(), forwardTimeoutMs))
            QThread::msleep(100);
        return handOver(action);
    }
    // Starting the program only to quit it or to cancel a recording it cannot have is no use.
    if (action == RemoteAction::quit || action == RemoteAction::cancel) {
        logLine(lcApp(), QStringLiteral("QuillpointApp"), QStringLiteral("Quillpoint is not running"));
        return 0;
    }
    // A call that started this process through D-Bus activation can arrive before the launch.
    m_busObject = std::make_unique<ApplicationBusObject>();
    connect(m_busObject.get(), &ApplicationBusObject::actionRequested, this, [this](RemoteAction requested) {
        if (m_launched)
            m_appDelegate->perform(requested);
        else
            m_pendingActions.push_back(requested);
    });
    if (action)
        m_pendingActions.push_back(*action);
    if (!m_busObject->claim(bundleIdentifier()))
        logLine(lcApp(), QStringLiteral("QuillpointApp"),
                QStringLiteral("Not reachable on the session bus as ") + bundleIdentifier() +
                    QStringLiteral("; command-line actions cannot reach this instance"));
    m_terminationSignals = std::make_unique<TerminationSignals>();
    connect(m_terminationSignals.get(), &TerminationSignals::terminationRequested, this,
            &QCoreApplication::quit);
    m_services = Services::forThisSession();
    m_appDelegate = std::make_unique<AppDelegate>(*m_services);
    connect(this, &QCoreApplication::aboutToQuit, m_appDelegate.get(),
            &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, m_appDelegate.get(), [this] {
        m_appDelegate->applicationDidFinishLaunching();
        m_launched = true;
        for (const RemoteAction pending : std::exchange(m_pendingActions, {}))
            m_appDelegate->perform(pending);
    });
    return exec();
}

} // namespace quill
