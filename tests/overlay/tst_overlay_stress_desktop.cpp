#include "overlay/OverlayPanelController.h"
#include "overlay/OverlayPanelWindow.h"
#include "platform/x11/X11PanelWindowHelper.h"

#include <QAccessible>
#include <QEventLoop>
#include <QProcess>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

using namespace quill;

namespace {

// Markdown that exercises lists, headings, code and emphasis while it grows piece by piece.
const QStringList kPieces = {
    QStringLiteral("# Heading\n\n"),     QStringLiteral("The **selected** words "),
    QStringLiteral("mean this:\n\n"),    QStringLiteral("- one point\n"),
    QStringLiteral("- another *one*\n"), QStringLiteral("\n```\ncode line\n"),
    QStringLiteral("```\n\n"),           QStringLiteral("1. first\n2. second\n\n"),
    QStringLiteral("> a quote\n\n"),     QStringLiteral("A closing paragraph with `inline` code."),
};

const QStringList kErrors = {
    QStringLiteral("No text selected"),
    QStringLiteral("Cannot connect to server. Is the backend running?"),
    QStringLiteral("No response received"),
};

// Runs the event loop for `ms` without the pauses of QTest::qWait, so that the accessibility
// client's calls are answered at once.
void spin(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int explainCount() {
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("QUILL_STRESS_EXPLAINS", &ok);
    return ok && count > 0 ? count : 150;
}

} // namespace

// Writes pieces into the panel at a random pace until it has sent them all, then ends the way
// the application ends a stream: with a refit, or with an error that dismisses itself.
class ScriptedStream : public QObject {
    Q_OBJECT
public:
    ScriptedStream(OverlayPanelController& controller, bool detail, QRandomGenerator& random, QObject* parent)
        : QObject(parent)
        , m_controller(controller)
        , m_detail(detail)
        , m_random(random)
        , m_failAfter(random.bounded(4) == 0 ? random.bounded(qsizetype(1), kPieces.size()) : -1) {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &ScriptedStream::next);
        m_timer.start(pieceGapMs());
    }

private:
    // A slow model's pace: about a piece every 15 ms, so that streams overlap the next explain.
    int pieceGapMs() { return 2 + m_random.bounded(28); }

    void next() {
        ExplanationViewModel& model = m_controller.viewModel();
        if (m_sent == m_failAfter) {
            if (m_detail)
                model.setIsLoadingDetail(false);
            m_controller.showError(kErrors.at(m_random.bounded(kErrors.size())), true);
            deleteLater();
            return;
        }
        if (m_sent == kPieces.size()) {
            if (m_detail)
                m_controller.finishDetailLoading();
            else
                m_controller.finishStreaming();
            deleteLater();
            return;
        }
        m_text += kPieces.at(m_sent++);
        if (m_detail)
            model.setDetailedText(m_text);
        else
            model.setState(ExplanationState::content(m_text));
        m_controller.scheduleResize();
        m_timer.start(pieceGapMs());
    }

    OverlayPanelController& m_controller;
    bool m_detail;
    QRandomGenerator& m_random;
    qsizetype m_failAfter;
    qsizetype m_sent = 0;
    QString m_text;
    QTimer m_timer;
};

// The panel under an assistive technology that reads all of it all the time, while explains
// follow each other faster than their answers stream, errors dismiss themselves, and "more"
// requests (pressed through the accessibility bus) overlap both.
class TestOverlayStressDesktop : public QObject {
    Q_OBJECT
private slots:
    void backToBackExplainsUnderAnAccessibilityClient();
};

void TestOverlayStressDesktop::backToBackExplainsUnderAnAccessibilityClient() {
    QRandomGenerator random(19);
    X11PanelWindowHelper helper(qGuiApp->nativeInterface<QNativeInterface::QX11Application>()->connection());
    OverlayPanelController controller(helper, OverlayPanelController::Timing{25, 15, 40}, [&helper] {
        return OverlayPanelController::currentDisplayLayout(helper);
    });
    // Streams still running at the end go before the controller they write to.
    QObject streams;
    int detailRequests = 0;
    const auto requestDetail = [&] {
        ++detailRequests;
        controller.viewModel().setIsLoadingDetail(true);
        new ScriptedStream(controller, true, random, &streams);
    };
    connect(&controller, &OverlayPanelController::detailRequested, this, requestDetail);

    QProcess reader;
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    reader.start(QStringLiteral(QUILL_ATSPI_READER),
                 {QString::number(QCoreApplication::applicationPid()), QStringLiteral("more")});
    QVERIFY(reader.waitForStarted());
    controller.viewModel().setState(ExplanationState::loading());
    controller.showPanel();
    QVERIFY(QTest::qWaitForWindowExposed(controller.panel()));
    QTRY_VERIFY_WITH_TIMEOUT(reader.canReadLine(), 20000);
    QCOMPARE(reader.readLine().trimmed(), QByteArray("ready"));
    QVERIFY(QAccessible::isActive());

    const int explains = explainCount();
    for (int i = 0; i < explains; ++i) {
        switch (random.bounded(8)) {
        case 0:
            controller.showError(kErrors.at(random.bounded(kErrors.size())), true);
            break;
        case 1:
            controller.hide();
            break;
        default: {
            ExplanationViewModel& model = controller.viewModel();
            model.reset();
            model.setState(ExplanationState::loading());
            model.setLoadingMessage(std::nullopt);
            controller.showPanel();
            new ScriptedStream(controller, false, random, &streams);
            break;
        }
        }
        if (random.bounded(5) == 0)
            requestDetail();
        if (random.bounded(10) == 0)
            controller.showRecording(QStringLiteral("Listening... (Esc to cancel)"));
        spin(10 + random.bounded(80));
    }
    spin(200);
    controller.hide();

    // The reader may be in the middle of a call to this process: keep answering until it ends.
    reader.terminate();
    QTRY_VERIFY_WITH_TIMEOUT(reader.state() == QProcess::NotRunning, 30000);
    const QByteArray summary = reader.readAllStandardOutput().trimmed();
    qInfo("%d explains, %d detail requests; reader: %s", explains, detailRequests, summary.constData());
    // The reader went through the whole panel more than once while it changed (under the
    // sanitizers a walk takes a few seconds: two is what a loaded run manages).
    const QList<QByteArray> fields = summary.split(' ');
    QVERIFY2(fields.size() == 8 && fields.at(1).toLong() >= 2 && fields.at(3).toLong() > 60,
             summary.constData());
}

QTEST_MAIN(TestOverlayStressDesktop)
#include "tst_overlay_stress_desktop.moc"
