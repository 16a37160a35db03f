#include "CommandLine.h"
#include "Diagnostics.h"
#include "QuillpointApp.h"
#include "platform/AppInfo.h"
#include "platform/InstanceGuard.h"
#include "platform/SessionProbe.h"
#include "platform/atspi/AccessibilityBusGuard.h"

#include <QCoreApplication>
#include <cstdio>
#include <optional>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const quill::CommandLine commandLine = quill::CommandLine::parse(arguments);
    switch (commandLine.mode) {
    case quill::CommandLine::Mode::help:
    case quill::CommandLine::Mode::version:
        std::fputs(qPrintable(commandLine.text), stdout);
        return 0;
    case quill::CommandLine::Mode::error:
        std::fprintf(stderr, "%s\n", qPrintable(commandLine.text));
        return 2;
    case quill::CommandLine::Mode::diagnose:
        return quill::runDiagnostics(argc, argv);
    case quill::CommandLine::Mode::run:
        break;
    }

    if (const auto problem = quill::platform::prepareDisplay()) {
        // A copy running elsewhere in this session can still take the action.
        QCoreApplication app(argc, argv);
        if (const auto status = quill::QuillpointApp::forwardOnly(commandLine.action, commandLine.actionId))
            return *status;
        std::fprintf(stderr, "Quillpoint cannot start: %s\nRun `quillpoint --diagnose` for details.\n",
                     qPrintable(*problem));
        return 1;
    }
    // Only the instance shows windows: a launch that hands its action over need not ask the bus.
    std::optional<quill::AccessibilityBusGuard> accessibilityBus;
    if (quill::InstanceGuard(quill::InstanceGuard::defaultLockPath(quill::bundleIdentifier())).tryAcquire())
        accessibilityBus.emplace(std::chrono::seconds(1));
    quill::QuillpointApp app(argc, argv);
    if (accessibilityBus)
        accessibilityBus->release();
    return app.run(commandLine.action, commandLine.actionId);
}
