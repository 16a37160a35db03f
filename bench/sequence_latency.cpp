// How long the user waits on the two sequences, measured in the real program's wiring on a
// desktop (run it inside scripts/test-desktop.sh, see scripts/bench.sh):
//   explain     shortcut press -> panel shown with "Analyzing..."   (mousepad in front)
//   transcribe  second shortcut press -> upload request at the backend
// Prints the median and the 99th percentile over the runs.
//   first-recording  the first Ctrl+2 of a fresh process -> Listening panel shown, and how much
//                    of the recording's span the uploaded file holds (one run per process;
//                    bench/footprint.sh starts it five times)

#include "DesktopTools.h"
#include "TestHttpServer.h"
#include "app/AppDelegate.h"
#include "app/Services.h"
#include "app/TranscribeSequence.h"
#include "backend/QuillAPIClient.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/KeyEventPoster.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <optional>

using namespace quill;
using namespace quill::test;

namespace {

void report(const char* what, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[std::min(samples.size() - 1, size_t(q * samples.size()))];
    };
    std::printf("%s: median %.1f ms, p99 %.1f ms over %zu runs\n", what, at(0.5), at(0.99), samples.size());
}

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, 10000);
}

// Seconds of audio in the file, by ffprobe; negative when it cannot tell.
double audioSeconds(const QString& path) {
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", path});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        return -1;
    bool ok = false;
    const double seconds = probe.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? seconds : -1;
}

// Milliseconds from a press of Ctrl+`key` until the panel is on screen in its loading state (of
// `mode`, when given); -1 when not within 10 s. Timed where the panel is shown, not by polling,
// which would add its own interval. `timer` starts at the press and keeps running.
double msUntilLoadingPanel(OverlayPanelController& overlay, KeyEventPoster& keys, Qt::Key key,
                           std::optional<ViewMode> mode, QElapsedTimer& timer) {
    double shownAfterMs = -1;
    QEventLoop loop;
    const auto connection =
        QObject::connect(&overlay.viewModel(), &ExplanationViewModel::stateChanged, &loop, [&] {
            if ((!mode || overlay.viewModel().mode() == *mode) &&
                overlay.viewModel().state() == ExplanationState::loading()) {
                QMetaObject::invokeMethod(
                    &loop,
                    [&] {
                        if (overlay.panel()->isVisible())
                            shownAfterMs = timer.nsecsElapsed() / 1e6;
                        loop.quit();
                    },
                    Qt::QueuedConnection);
            }
        });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    timer.start();
    keys.postKey(key, Qt::ControlModifier);
    loop.exec();
    QObject::disconnect(connection);
    return shownAfterMs;
}

int firstRecording(AppDelegate& delegate, KeyEventPoster& keys, TestHttpServer& backend, const QString& dir) {
    std::unique_ptr<MicFeeder> microphone;
    if (qEnvironmentVariableIsSet("QUILL_TEST_MIC_FIFO"))
        microphone = std::make_unique<MicFeeder>(speechPcm("The first recording keeps every word."));
    OverlayPanelController& overlay = *delegate.overlayPanelController();
    backend.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":""})"));
    QElapsedTimer timer;
    const double shownAfterMs = msUntilLoadingPanel(overlay, keys, Qt::Key_2, ViewMode::transcribe, timer);
    if (shownAfterMs < 0)
        return 1;
    QTest::qWait(3000);
    const double spanS = timer.nsecsElapsed() / 1e9;
    keys.postKey(Qt::Key_2, Qt::ControlModifier);
    if (!waitFor([&] { return !backend.requests.isEmpty(); }))
        return 1;
    QFile file(dir + "/upload.m4a");
    file.open(QIODevice::WriteOnly);
    file.write(backend.requests.constFirst().body);
    file.close();
    std::printf(
        "first recording: press to Listening panel %.1f ms; file holds %.2f s of %.2f s from press to stop\n",
        shownAfterMs, audioSeconds(file.fileName()), spanS);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qputenv("QUILLPOINT_MODULE_DIR", QUILL_MODULE_DIR);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("explain");
    const int runs = argc > 2 ? std::atoi(argv[2]) : 50;
    TestHttpServer backend;
    const auto services = Services::forThisSession();
    services->settingsStore().setValue(QuillAPIClient::baseURLOverrideKey, backend.baseUrl());

    QTemporaryDir dir;
    QFile document(dir.path() + "/text.txt");
    document.open(QIODevice::WriteOnly);
    document.write("Light drives photosynthesis.");
    document.close();
    QProcess editor;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (mode == "copy")
        environment.insert("NO_AT_BRIDGE", "1"); // invisible to the accessibility bus: the copy path
    editor.setProcessEnvironment(environment);
    editor.start("mousepad", {document.fileName()});
    const QString window = activateWindow("mousepad");

    AppDelegate delegate(*services);
    delegate.applicationDidFinishLaunching();
    OverlayPanelController& overlay = *delegate.overlayPanelController();
    KeyEventPoster& keys = services->keyEventPoster();
    QTest::qWait(1000);
    if (mode == "first-recording") {
        const int status = firstRecording(delegate, keys, backend, dir.path());
        editor.kill();
        editor.waitForFinished();
        return status;
    }
    std::vector<double> samples;

    for (int run = 0; run < runs; ++run) {
        xdotool({"windowactivate", "--sync", window});
        if (mode == "transcribe") {
            backend.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":""})"));
            keys.postKey(Qt::Key_2, Qt::ControlModifier);
            if (!waitFor([&] { return delegate.transcribeSequence()->isTranscribing(); }))
                return 1;
            QTest::qWait(500);
            const qsizetype before = backend.requests.size();
            QElapsedTimer timer;
            double sentAfterMs = -1;
            QEventLoop loop;
            const auto connection = QObject::connect(&backend, &TestHttpServer::requestReceived, &loop, [&] {
                sentAfterMs = timer.nsecsElapsed() / 1e6;
                loop.quit();
            });
            QTimer::singleShot(10000, &loop, &QEventLoop::quit);
            timer.start();
            keys.postKey(Qt::Key_2, Qt::ControlModifier);
            loop.exec();
            QObject::disconnect(connection);
            if (sentAfterMs < 0 || backend.requests.size() <= before)
                return 1;
            samples.push_back(sentAfterMs);
        } else {
            xdotool({"key", "--clearmodifiers", "ctrl+a"});
            backend.enqueue(ScriptedReply::status(200).write("data: [DONE]\n\n"));
            overlay.hide();
            overlay.viewModel().reset();
            QTest::qWait(50);
            QElapsedTimer timer;
            const double shownAfterMs = msUntilLoadingPanel(overlay, keys, Qt::Key_1, std::nullopt, timer);
            if (shownAfterMs < 0)
                return 1;
            samples.push_back(shownAfterMs);
            QTest::qWait(100);
        }
    }
    report(qPrintable(mode == "transcribe" ? QStringLiteral("stop press to upload request")
                                           : QStringLiteral("shortcut press to panel (%1 path)")
                                                 .arg(mode == "copy" ? "copy" : "accessibility")),
           samples);
    editor.kill();
    editor.waitForFinished();
    return 0;
}
