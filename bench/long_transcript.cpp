// Shows transcripts of growing size in the overlay panel the way the transcribe sequence does,
// as one unbroken word and as words, and prints how long the interface thread was busy with
// each: long_transcript [largest size in KB]
#include "overlay/OverlayPanelController.h"
#include "platform/PlatformNull.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

using namespace quill;

namespace {

double showMs(OverlayPanelController& controller, const QString& text) {
    ExplanationViewModel& model = controller.viewModel();
    QElapsedTimer timer;
    timer.start();
    model.reset();
    model.setMode(ViewMode::transcribe);
    model.setState(ExplanationState::content(text));
    controller.showPanel();
    controller.updatePanelSize(false);
    QApplication::processEvents();
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int largestKb = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 256;

    NullPanelWindowHelper helper;
    DisplayLayout layout{QPoint(40, 40), {{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)}}, {}};
    OverlayPanelController controller(helper, {}, [&layout] { return layout; });
    QTextStream out(stdout);
    out << "long_transcript: ms on the interface thread to show it\n";
    for (int kb = 4; kb <= largestKb; kb *= 2) {
        const qsizetype length = qsizetype(kb) * 1024;
        const QString word(length, QLatin1Char('a'));
        QString words;
        while (words.size() < length)
            words += QStringLiteral("word ");
        out << "  " << kb << " KB: one word " << showMs(controller, word) << " ms, words "
            << showMs(controller, words.left(length)) << " ms" << Qt::endl;
    }
    controller.hide();
    return 0;
}
