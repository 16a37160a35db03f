// Renders the overlay panel in each of its states, in a light and a dark palette, to PNG files
// for visual review: overlay_render <output directory>
#include "overlay/ExplanationView.h"
#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/PlatformNull.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLinearGradient>
#include <QPainter>
#include <QStyle>
#include <QStyleFactory>
#include <QTextStream>
#include <functional>

using namespace quill;

namespace {

QPalette darkPalette() {
    QPalette palette;
    const QColor window(36, 36, 38);
    const QColor text(235, 235, 240);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, QColor(28, 28, 30));
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(48, 48, 52));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::Highlight, QColor(53, 132, 228));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(150, 150, 155));
    return palette;
}

void wait(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

const QString answer = QStringLiteral(
    "**Idempotent** means that doing an operation twice has the same effect as doing it once.\n\n"
    "- `PUT /users/7` with the same body leaves the same user behind, however often it is sent.\n"
    "- `POST /orders` usually creates a *new* order each time, so it is not idempotent.\n\n"
    "Retries are only safe for idempotent requests.");

const QString detail =
    QStringLiteral("### Why it matters\n\n"
                   "Networks fail halfway: a client often cannot tell whether its request arrived. "
                   "When the operation is idempotent it can simply send it again.\n\n"
                   "```\nPUT /users/7 {\"name\": \"Ada\"}\n```\n\n"
                   "1. Make writes idempotent with a client-chosen key.\n"
                   "2. Store the key with the result and return that result for repeats.");

const QString codeAnswer =
    QStringLiteral("### Counting lines\n\n"
                   "`wc -l` counts the lines of each file; with a **loop** you get one line per file:\n\n"
                   "```bash\nfor f in *.txt; do\n    printf '%s\\t%s\\n' \"$(wc -l < \"$f\")\" \"$f\"  # "
                   "count, then the name\ndone\n```\n\n"
                   "> `find . -name '*.txt' -exec wc -l {} +` does the same for a whole tree.\n\n"
                   "| Option | Counts |\n|---|---|\n| `-l` | lines |\n| `-w` | words |\n\n"
                   "See the [coreutils manual](https://www.gnu.org/software/coreutils/manual/).");

const QString nestedCodeAnswer =
    QStringLiteral("### Installing\n\n"
                   "1. Fetch the sources:\n\n"
                   "   ```bash\n   git clone https://example.org/tool.git\n   ```\n\n"
                   "2. Build with `make`, then install:\n\n"
                   "   ```bash\n   sudo make install\n   ```\n\n"
                   "3. Or take the package:\n\n"
                   "   - ~~~\n     apt install tool\n     ~~~\n\n"
                   "> Behind a proxy, set `https_proxy` first:\n>\n"
                   "> ```bash\n> export https_proxy=http://proxy:3128\n> ```\n\n"
                   "Check it:\n\n    tool --version");

struct Scene {
    QString name;
    std::function<void(OverlayPanelController&)> setUp;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    const QString outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("overlay-states");
    QDir().mkpath(outDir);

    const QList<Scene> scenes = {
        {QStringLiteral("loading"),
         [](OverlayPanelController& c) {
             c.viewModel().reset();
             c.viewModel().setState(ExplanationState::loading());
             c.showPanel();
         }},
        {QStringLiteral("recording"),
         [](OverlayPanelController& c) {
             c.showRecording(QStringLiteral("Listening... (Esc to cancel)"));
             c.viewModel().setAudioLevel(0.65f);
         }},
        {QStringLiteral("content-with-detail"),
         [](OverlayPanelController& c) {
             c.viewModel().reset();
             c.viewModel().setState(ExplanationState::loading());
             c.showPanel();
             c.viewModel().setState(ExplanationState::content(answer));
             c.viewModel().setDetailedText(detail);
             c.viewModel().setIsExpanded(true);
             c.finishStreaming();
         }},
        {QStringLiteral("code"),
         [](OverlayPanelController& c) {
             c.viewModel().reset();
             c.viewModel().setState(ExplanationState::loading());
             c.showPanel();
             c.viewModel().setState(ExplanationState::content(codeAnswer));
             c.finishStreaming();
         }},
        {QStringLiteral("code-in-lists-and-quotes"),
         [](OverlayPanelController& c) {
             c.viewModel().reset();
             c.viewModel().setState(ExplanationState::loading());
             c.showPanel();
             c.viewModel().setState(ExplanationState::content(nestedCodeAnswer));
             c.finishStreaming();
         }},
        {QStringLiteral("transcribe-content"),
         [](OverlayPanelController& c) {
             c.viewModel().reset();
             c.viewModel().setState(ExplanationState::loading());
             c.viewModel().setLoadingMessage(QStringLiteral("Transcribing..."));
             c.showPanel();
             c.viewModel().setMode(ViewMode::transcribe);
             c.viewModel().setState(ExplanationState::content(
                 QStringLiteral("Let's move the review to Thursday afternoon and invite the design team.")));
             c.updatePanelSize(false);
         }},
        {QStringLiteral("error"),
         [](OverlayPanelController& c) {
             c.viewModel().reset();
             c.showError(QStringLiteral("Rate limit exceeded. Please try again later."), false);
         }},
    };

    NullPanelWindowHelper helper;
    const QList<std::pair<QString, QPalette>> themes = {
        {QStringLiteral("light"), QApplication::style()->standardPalette()},
        {QStringLiteral("dark"), darkPalette()}};
    QTextStream out(stdout);
    for (const auto& [themeName, palette] : themes) {
        QApplication::setPalette(palette);
        for (const Scene& scene : scenes) {
            const DisplayLayout layout{
                QPoint(40, 40), {{QRect(0, 0, 1280, 1024), QRect(0, 0, 1280, 1024)}}, {}};
            OverlayPanelController controller(helper, {},
                                              [layout]() -> const DisplayLayout& { return layout; });
            scene.setUp(controller);
            wait(450);
            OverlayPanelWindow* panel = controller.panel();
            const QPixmap shot = panel->grab();

            QImage image(shot.size() + QSize(48, 48), QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            QLinearGradient backdrop(0, 0, image.width(), image.height());
            const bool dark = themeName == QStringLiteral("dark");
            backdrop.setColorAt(0, dark ? QColor(52, 60, 78) : QColor(214, 224, 238));
            backdrop.setColorAt(1, dark ? QColor(30, 34, 44) : QColor(236, 230, 222));
            painter.fillRect(image.rect(), backdrop);
            painter.drawPixmap(24, 24, shot);
            painter.end();
            const QString file = QStringLiteral("%1/%2-%3.png").arg(outDir, themeName, scene.name);
            image.save(file);
            const QRect card = panel->cardGeometry();
            out << file << "  panel " << card.width() << "x" << card.height() << "\n";
        }
    }
    return 0;
}
