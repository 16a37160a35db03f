// Processor cost of recording: the whole process's CPU time (all threads) while idle and while
// recording from the default microphone, each over the same wall-clock span, in percent of
// one core. The panel shows the level meter meanwhile, as in the program. Also the time the
// main thread spends in startRecording and stopRecording.
//
//   bench/audio_capture_cpu.sh build/<dir>/bench/audio_capture_cpu [seconds]
// runs it in the headless test desktop with speech playing into the microphone.

#include "capture/AudioCaptureService.h"
#include "capture/AudioRecorder.h"
#include "overlay/OverlayPanelController.h"
#include "platform/PlatformNull.h"
#include "platform/audio/AacFileWriter.h"
#include "platform/audio/PulsePcmSource.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sys/resource.h>

using namespace quill;

namespace {

long contextSwitches() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_nvcsw + usage.ru_nivcsw;
}

// RUSAGE_SELF: all of the process's threads; RUSAGE_THREAD: the calling one.
double cpuSeconds(int who = RUSAGE_SELF) {
    rusage usage{};
    getrusage(who, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void runEventLoop(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// Counts the repaints of the panel's window while it is installed, to tell drawing apart from
// the rest of the main thread's work.
class RepaintCounter : public QObject {
public:
    int repaints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::UpdateRequest && watched->isWidgetType())
            ++repaints;
        return false;
    }
};

// Percent of one core used by the process while the event loop runs for `seconds`.
double measure(int seconds) {
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runEventLoop(seconds * 1000);
    return 100.0 * (cpuSeconds() - cpuBefore) / (double(wall.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;

    NullPanelWindowHelper helper;
    OverlayPanelController overlay(helper);

    AudioCaptureService service([] {
        return std::make_unique<AudioRecorder>(std::make_unique<PulsePcmSource>(),
                                               std::make_unique<AacFileWriter>());
    });
    int levelReports = 0;
    float loudest = 0.0f;
    QObject::connect(&service, &AudioCaptureService::audioLevel, &service, [&](float level) {
        ++levelReports;
        loudest = std::max(loudest, level);
        overlay.viewModel().setAudioLevel(level);
    });
    service.maxDuration = seconds + 10.0;

    const double idle = measure(seconds);

    QElapsedTimer call;
    call.start();
    overlay.showRecording(QStringLiteral("Listening... (Esc to cancel)"));
    const double showMs = double(call.nsecsElapsed()) / 1e6;
    call.restart();
    if (!service.startRecording()) {
        std::fprintf(stderr, "cannot record: no sound server or no microphone\n");
        return 1;
    }
    const double startMs = double(call.nsecsElapsed()) / 1e6;
    RepaintCounter counter;
    app.installEventFilter(&counter);
    const double mainBefore = cpuSeconds(RUSAGE_THREAD);
    const long switchesBefore = contextSwitches();
    const double recording = measure(seconds);
    const double mainThread = 100.0 * (cpuSeconds(RUSAGE_THREAD) - mainBefore) / seconds;
    const double switches = double(contextSwitches() - switchesBefore) / seconds;
    app.removeEventFilter(&counter);
    call.restart();
    const auto path = service.stopRecording();
    const double stopMs = double(call.nsecsElapsed()) / 1e6;
    overlay.hide();
    call.restart();
    overlay.showRecording(QStringLiteral("Listening... (Esc to cancel)"));
    const double showAgainMs = double(call.nsecsElapsed()) / 1e6;
    const qint64 bytes = path ? QFileInfo(*path).size() : 0;
    if (path) {
        AudioCaptureService::deleteRecording(*path);
    }

    std::printf("span                   %d s each\n", seconds);
    std::printf("idle                   %.2f %% of one core\n", idle);
    std::printf("recording              %.2f %% of one core\n", recording);
    std::printf("recording minus idle   %.2f %% of one core (target < 2 %%)\n", recording - idle);
    std::printf("  on the main thread   %.2f %% of one core\n", mainThread);
    std::printf("showRecording          %.1f ms on the main thread\n", showMs);
    std::printf("showRecording again    %.1f ms on the main thread\n", showAgainMs);
    std::printf("startRecording         %.1f ms on the main thread\n", startMs);
    std::printf("stopRecording          %.1f ms on the main thread\n", stopMs);
    std::printf("file                   %lld bytes\n", static_cast<long long>(bytes));
    std::printf("level reports          %d, loudest %.2f\n", levelReports, double(loudest));
    std::printf("context switches       %.0f per second of recording\n", switches);
    std::printf("panel repaints         %.1f per second of recording\n", counter.repaints / double(seconds));
    return path ? 0 : 1;
}
