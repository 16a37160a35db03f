// Streams a long Markdown answer into a shown overlay panel the way the explain sequence does:
// each piece sets the whole text so far and schedules the debounced refit. Prints the time per
// piece (median, p99) and the total: overlay_stream [pieces]
#include "overlay/OverlayPanelController.h"
#include "platform/PlatformNull.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <vector>

using namespace quill;

namespace {

QString answer() {
    const QString section = QStringLiteral(
        "## Step %1: reading the configuration\n\n"
        "The loader reads **settings.toml** first, then applies the *environment* on top. "
        "Values that are missing fall back to defaults, so a fresh install works without a file.\n\n"
        "- `timeout` limits each request, in seconds\n"
        "- `retries` is how often a failed request is sent again\n"
        "- `endpoint` names the server, for example `https://api.example.org`\n\n"
        "```python\nconfig = load(\"settings.toml\")\nfor key, value in os.environ.items():\n"
        "    config.override(key, value)\n```\n\n"
        "1. Check the file exists.\n2. Parse it and report the line of any error:\n\n"
        "   ```sh\n   check-config settings.toml\n   ```\n\n"
        "> On a server:\n>\n> ~~~\n> export SETTINGS=/etc/tool.toml\n> ~~~\n\n");
    QString text;
    for (int i = 1; text.size() < 8192; ++i)
        text += section.arg(i);
    return text.left(8192);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int pieces = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 2000;
    const QString text = answer();

    NullPanelWindowHelper helper;
    const DisplayLayout layout{QPoint(40, 40), {{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1080)}}, {}};
    OverlayPanelController controller(helper, {}, [layout]() -> const DisplayLayout& { return layout; });
    ExplanationViewModel& model = controller.viewModel();
    model.reset();
    model.setState(ExplanationState::loading());
    model.setLoadingMessage(std::nullopt);
    controller.showPanel();
    QApplication::processEvents();

    std::vector<double> times;
    times.reserve(static_cast<size_t>(pieces));
    QElapsedTimer total;
    total.start();
    for (int i = 1; i <= pieces; ++i) {
        const qsizetype end = text.size() * i / pieces;
        QElapsedTimer piece;
        piece.start();
        model.setState(ExplanationState::content(text.left(end)));
        controller.scheduleResize();
        // Pieces arrive faster than the debounce; the panel paints between them.
        QApplication::processEvents();
        times.push_back(static_cast<double>(piece.nsecsElapsed()) / 1e6);
    }
    controller.finishStreaming();
    QApplication::processEvents();
    const double totalMs = static_cast<double>(total.nsecsElapsed()) / 1e6;

    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    const auto at = [&](double q) { return sorted[static_cast<size_t>(q * (sorted.size() - 1))]; };
    const size_t tail = times.size() - times.size() / 10;
    std::vector<double> last(times.begin() + static_cast<long>(tail), times.end());
    std::sort(last.begin(), last.end());
    QTextStream(stdout) << "overlay_stream: " << text.size() << " chars in " << pieces << " pieces\n"
                        << "  per piece: median " << at(0.5) << " ms, p99 " << at(0.99) << " ms, max "
                        << sorted.back() << " ms\n"
                        << "  last tenth median " << last[last.size() / 2] << " ms\n"
                        << "  total " << totalMs << " ms\n";
    return 0;
}
