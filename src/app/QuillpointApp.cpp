#include "QuillpointApp.h"

#include "AppDelegate.h"
#include "Services.h"
#include "Translations.h"
#include "platform/AppInfo.h"
#include "platform/InstanceGuard.h"
#include "platform/Log.h"
#include "platform/TerminationSignals.h"

#include <QIcon>
#include <QTimer>

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

int QuillpointApp::run() {
    m_instanceGuard = std::make_unique<InstanceGuard>(InstanceGuard::defaultLockPath(bundleIdentifier()));
    if (!m_instanceGuard->tryAcquire()) {
        logLine(lcApp(), QStringLiteral("QuillpointApp"), QStringLiteral("Quillpoint is already running"));
        return 1;
    }
    m_terminationSignals = std::make_unique<TerminationSignals>();
    connect(m_terminationSignals.get(), &TerminationSignals::terminationRequested, this,
            &QCoreApplication::quit);
    m_services = Services::forThisSession();
    m_appDelegate = std::make_unique<AppDelegate>(*m_services);
    connect(this, &QCoreApplication::aboutToQuit, m_appDelegate.get(),
            &AppDelegate::applicationWillTerminate);
    QTimer::singleShot(0, m_appDelegate.get(), &AppDelegate::applicationDidFinishLaunching);
    return exec();
}

} // namespace quill
