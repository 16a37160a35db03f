#include "QuillpointApp.h"

#include "AppDelegate.h"
#include "ApplicationBusObject.h"
#include "Services.h"
#include "Translations.h"
#include "platform/AppInfo.h"
#include "platform/InstanceGuard.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"
#include "preferences/ActionStore.h"

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

void log(const QString& message) {
    logLine(lcApp(), QStringLiteral("QuillpointApp"), message);
}

// The running instance is the process that holds the instance lock; the bus name is only how it
// is reached. A process that owns the name without holding the lock is not this program, and
// what the user asked for must not go to it.
int handOver(std::optional<RemoteAction> action, const QString& lockPath, const QString& actionId) {
    if (!action) {
        log(QStringLiteral("Quillpoint is already running"));
        return 1;
    }
    const QString busName = bundleIdentifier();
    const std::optional<qint64> holder = InstanceGuard::holderProcessId(lockPath);
    // The holder may still be starting (a key binding pressed twice in quick succession) and
    // not yet on the bus.
    QDeadlineTimer starting(startupWaitMs);
    std::optional<qint64> owner = ApplicationBusObject::ownerProcessId(busName, forwardTimeoutMs);
    while ((!owner || (holder && *owner != *holder)) && !starting.hasExpired()) {
        QThread::msleep(100);
        owner = ApplicationBusObject::ownerProcessId(busName, forwardTimeoutMs);
    }
    const QString refused = QStringLiteral("Could not pass --%1 to the running Quillpoint: %2");
    if (!owner) {
        log(refused.arg(remoteActionName(*action), QStringLiteral("it is not on the session bus")));
        return 1;
    }
    if (holder && *owner != *holder) {
        log(refused.arg(remoteActionName(*action),
                        QStringLiteral("%1 on the session bus belongs to another program (process %2), "
                                       "not to Quillpoint (process %3)")
                            .arg(busName)
                            .arg(*owner)
                            .arg(*holder)));
        return 1;
    }
    bool invalid = false;
    const QString error =
        ApplicationBusObject::forward(busName, action, forwardTimeoutMs, actionId, &invalid);
    if (error.isEmpty())
        return 0;
    log(refused.arg(remoteActionName(*action), error.left(200)));
    // An action the running program does not have is a mistake in the command line.
    return invalid && action == RemoteAction::action ? 2 : 1;
}

bool needsNoInstance(std::optional<RemoteAction> action) {
    return action == RemoteAction::quit || action == RemoteAction::cancel;
}

} // namespace

std::optional<int> QuillpointApp::forwardOnly(std::optional<RemoteAction> action, const QString& actionId) {
    if (!action)
        return std::nullopt;
    const QString lockPath = InstanceGuard::defaultLockPath(bundleIdentifier());
    if (InstanceGuard(lockPath).tryAcquire()) {
        if (!needsNoInstance(action))
            return std::nullopt;
        log(QStringLiteral("Quillpoint is not running"));
        return 0;
    }
    return handOver(action, lockPath, actionId);
}

int QuillpointApp::run(std::optional<RemoteAction> action, const QString& actionId) {
    const QString lockPath = InstanceGuard::defaultLockPath(bundleIdentifier());
    m_instanceGuard = std::make_unique<InstanceGuard>(lockPath);
    if (!m_instanceGuard->tryAcquire())
        return handOver(action, lockPath, actionId);
    // Starting the program only to quit it or to cancel a recording it cannot have is no use.
    if (needsNoInstance(action)) {
        log(QStringLiteral("Quillpoint is not running"));
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
    connect(m_busObject.get(), &ApplicationBusObject::userActionRequested, this, [this](const QString& id) {
        if (m_launched)
            m_appDelegate->performUserAction(id);
        else
            m_pendingUserActions.push_back(id);
    });
    if (action == RemoteAction::action)
        m_pendingUserActions.push_back(actionId);
    else if (action)
        m_pendingActions.push_back(*action);
    if (!m_busObject->claim(bundleIdentifier())) {
        const auto owner = ApplicationBusObject::ownerProcessId(bundleIdentifier(), forwardTimeoutMs);
        log(QStringLiteral("Not reachable on the session bus as ") + bundleIdentifier() +
            (owner ? QStringLiteral(", which another program (process %1) owns").arg(*owner) : QString()) +
            QStringLiteral("; command-line actions cannot reach this instance"));
    }
    m_terminationSignals = std::make_unique<TerminationSignals>();
    connect(m_terminationSignals.get(), &TerminationSignals::terminationRequested, this,
            &QCoreApplication::quit);
    m_services = Services::forThisSession();
    ActionStore& actions = m_services->actionStore();
    if (action == RemoteAction::action) {
        if (const auto problem = actions.runProblem(actionId)) {
            log(*problem);
            return 2;
        }
    }
    m_busObject->setUserActionCheck([&actions](const QString& id) { return actions.runProblem(id); });
    m_appDelegate = std::make_unique<AppDelegate>(*m_services);
    connect(this, &QCoreApplication::aboutToQuit, m_appDelegate.get(),
            &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, m_appDelegate.get(), [this] {
        m_appDelegate->applicationDidFinishLaunching();
        m_launched = true;
        for (const RemoteAction pending : std::exchange(m_pendingActions, {}))
            m_appDelegate->perform(pending);
        for (const QString& pending : std::exchange(m_pendingUserActions, {}))
            m_appDelegate->performUserAction(pending);
    });
    return exec();
}

} // namespace quill
