// Explain's key press to its request, in the real program, with real applications in front: from
// the X event, or the portal's Activated signal in KWin, to the selection read and the request
// sent (the program's own time marks, QT_LOGGING_RULES="quillpoint.latency.debug=true"), and to
// the reference backend's arrival time of the request on the same monotonic clock.
// scripts/bench.sh runs it on X11 and in KWin; the key presses come from the session's keyboard,
// the text is selected with Ctrl+A (in a long LibreOffice document, a word in the middle).
//
//   application_latency [ROUNDS] [APPLICATION...]
//
// With QUILL_BENCH_EVERY_ROUND set, each round's marks are printed too, not only their medians.

#include "AppProcess.h"
#include "DesktopTools.h"
#include "SessionInput.h"
#include "TestBackend.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <map>
#include <optional>
#include <unistd.h>

using namespace quill::test;

namespace {

const QByteArray kPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Quill test page</title></head><body>
<p>Mitochondria make the <a href="#energy">chemical energy</a> a cell needs.</p>
<p>Ribosomes build proteins.</p>
</body></html>
)";

struct Application {
    QString name;
    QString program;
    QStringList arguments; // %DIR a fresh profile directory, %PAGE the page, %FILE a document
    QStringList environment;
    QString windowClass;    // on X11
    QString accessibleName; // in KWin
    QString title = {};     // what the window's name holds once its content is there
    // How the text is selected: keys, or (empty) a drag along the window's first line, in
    // screen coordinates `dragBelowTop` pixels below the window's top when that is given.
    QStringList selectKeys = {"ctrl+a"};
    int dragBelowTop = -1;
    QByteArray document = "Photosynthesis turns light into chemical energy.\n"; // %FILE
};

// Sixty paragraphs, more than a screen holds.
QByteArray longDocument() {
    QByteArray text;
    for (int i = 0; i < 60; ++i)
        text += "Paragraph " + QByteArray::number(i) + ": photosynthesis turns light into chemical energy.\n";
    return text;
}

// The first word of a paragraph in the middle of a long document.
QStringList wordInTheMiddle() {
    QStringList keys{"ctrl+Home"};
    for (int i = 0; i < 20; ++i)
        keys << "Down";
    return keys << "ctrl+shift+Right";
}

QList<Application> applications() {
    const bool wayland = onKWin();
    const QStringList chromium = {"--no-sandbox",
                                  "--user-data-dir=%DIR",
                                  "--no-first-run",
                                  "--disable-background-networking",
                                  "--disable-component-update",
                                  "--disable-sync",
                                  "--disable-gpu",
                                  "--password-store=basic",
                                  wayland ? "--ozone-platform=wayland" : "--ozone-platform=x11"};
    const QStringList qt = {wayland ? "QT_QPA_PLATFORM=wayland" : "QT_QPA_PLATFORM=xcb"};
    const QString gdk = wayland ? "GDK_BACKEND=wayland" : "GDK_BACKEND=x11";
    const QStringList writer = {"--writer", "--norestore", "--nologo", "-env:UserInstallation=file://%DIR",
                                "%FILE"};
    QList<Application> list = {
        {"firefox",
         "firefox-esr",
         {"--no-remote", "--new-instance", "--profile", "%DIR", "%PAGE"},
         {wayland ? "MOZ_ENABLE_WAYLAND=1" : "MOZ_ENABLE_WAYLAND=0"},
         "firefox-esr",
         "Firefox",
         "Quill test page"},
        {"chromium",
         "chromium",
         chromium + QStringList{"%PAGE"},
         {},
         "chromium",
         "Chromium",
         "Quill test page"},
        {"chromium-accessibility",
         "chromium",
         chromium + QStringList{"--force-renderer-accessibility", "%PAGE"},
         {},
         "chromium",
         "Chromium",
         "Quill test page"},
        {"gnome-text-editor",
         "gnome-text-editor",
         {"--standalone", "%FILE"},
         {gdk},
         "gnome-text-editor",
         "gnome-text-editor"},
        {"kwrite", "kwrite", {"%FILE"}, qt, "kwrite", "kwrite"},
        {"libreoffice-writer", "soffice", writer, {"SAL_USE_VCLPLUGIN=gtk3", gdk}, "libreoffice", "soffice"},
    };
    if (wayland)
        return list;
    const QStringList terminal = {"-e", "sh", "-c",
                                  "printf '%s\\n' 'Photosynthesis turns light into chemical energy.'; cat"};
    list << Application{"libreoffice-long",
                        "soffice",
                        writer,
                        {"SAL_USE_VCLPLUGIN=gtk3"},
                        "libreoffice",
                        {},
                        {},
                        wordInTheMiddle(),
                        -1,
                        longDocument()}
         << Application{"xterm", "xterm", QStringList{"-fa", "DejaVu Sans Mono", "-fs", "14"} + terminal,
                        {},      "xterm", {},
                        {},      {}}
         << Application{
                "konsole", "konsole", QStringList{"--separate", "--hide-menubar", "--hide-tabbar"} + terminal,
                {},        "konsole", {},
                {},        {},        20};
    return list;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The time of the last mark `event` among `lines`.
std::optional<double> mark(const QStringList& lines, const QString& event) {
    const QRegularExpression pattern("quillpoint\\.latency: " + event + " at ([0-9.]+) ms");
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        const auto match = pattern.match(lines[i]);
        if (match.hasMatch())
            return match.captured(1).toDouble();
    }
    return std::nullopt;
}

// Each mark among `lines` with its time, the first of each kind only.
QList<std::pair<QString, double>> allMarks(const QStringList& lines) {
    static const QRegularExpression pattern("quillpoint\\.latency: (.+) at ([0-9.]+) ms");
    QList<std::pair<QString, double>> found;
    for (const QString& line : lines) {
        const auto match = pattern.match(line);
        if (match.hasMatch() && std::none_of(found.cbegin(), found.cend(), [&](const auto& mark) {
                return mark.first == match.captured(1);
            }))
            found.append({match.captured(1), match.captured(2).toDouble()});
    }
    return found;
}

class Bench {
public:
    bool start() {
        if (!m_backend.start() || writeProgramSettings(m_backend.baseUrl()).isEmpty())
            return false;
        QFile page(m_files.filePath("page.html"));
        if (!page.open(QIODevice::WriteOnly))
            return false;
        page.write(kPage);
        page.close();
        m_program.start({"QT_LOGGING_RULES=quillpoint.latency.debug=true"});
        if (!m_program.waitForLine("AuthService: Auto-authenticated as "))
            return false;
        QTest::qWait(1500);
        return true;
    }

    void measure(const Application& application, int rounds) {
        if (QStandardPaths::findExecutable(application.program).isEmpty()) {
            std::printf("%-24s not installed\n", qPrintable(application.name));
            return;
        }
        QString window;
        if (!open(application, &window)) {
            std::printf("%-24s showed no window\n", qPrintable(application.name));
            close();
            return;
        }
        if (!application.selectKeys.isEmpty()) {
            pressKeys(application.selectKeys);
        } else if (application.dragBelowTop < 0) {
            xdotool({"mousemove", "--window", window, "2", "10", "mousedown", "1"});
            xdotool({"mousemove", "--window", window, "900", "10", "mouseup", "1"});
        } else {
            dragAlongScreenRow(window, application.dragBelowTop);
        }
        QTest::qWait(1500);
        QList<double> toRead, toSent, toArrival;
        // Every mark of the program after the key event, in the order of its first round.
        QStringList marks;
        std::map<QString, QList<double>> toMark;
        QString how;
        for (int round = 0; round < rounds; ++round) {
            const qsizetype first = m_program.lines().size();
            const qsizetype requests = explainRequests();
            pressKeys({"ctrl+1"});
            if (!QTest::qWaitFor([&] { return explainRequests() > requests && sentMark(first); }, 10000)) {
                std::printf("%-24s round %d: no request\n", qPrintable(application.name), round);
                std::printf("%s\n", qPrintable(m_program.lines().mid(first).join(u'\n')));
                break;
            }
            const QStringList lines = m_program.lines().mid(first);
            const auto key = mark(lines, "key event");
            const auto read = mark(lines, "selection read");
            const auto sent = mark(lines, "explain request sent");
            if (!key || !read || !sent)
                break;
            if (qEnvironmentVariableIsSet("QUILL_BENCH_EVERY_ROUND"))
                for (const auto& [event, at] : allMarks(lines))
                    std::printf("  r%d %-48s %6.1f\n", round, qPrintable(event), at - *key);
            toRead << *read - *key;
            toSent << *sent - *key;
            toArrival << lastExplainArrival() - *key;
            for (const auto& [event, at] : allMarks(lines)) {
                if (!toMark.contains(event))
                    marks << event;
                toMark[event] << at - *key;
            }
            for (const QString& line : lines) {
                const qsizetype through = line.indexOf(" through ");
                if (line.startsWith("TextCaptureService: read") && through >= 0)
                    how = line.mid(through + 9);
            }
            // The answer streams in before the next press, as when a person reads it.
            QTest::qWait(700);
        }
        close();
        if (toArrival.isEmpty())
            return;
        std::printf("%-24s %-22s key→read %6.1f, →sent %6.1f, →backend %6.1f ms (medians of %lld; backend "
                    "%.1f–%.1f)\n",
                    qPrintable(application.name), qPrintable("through " + how), median(toRead),
                    median(toSent), median(toArrival), static_cast<long long>(toArrival.size()),
                    *std::min_element(toArrival.cbegin(), toArrival.cend()),
                    *std::max_element(toArrival.cbegin(), toArrival.cend()));
        // What was read, to see that a faster read is still the right one.
        std::printf(
            "    text: \"%s\"\n",
            qPrintable(lastExplainRequest()["json"].toObject()["text"].toString().replace('\n', "\\n")));
        for (const QString& event : marks)
            std::printf("    %-48s %6.1f ms\n", qPrintable(event), median(toMark[event]));
        std::fflush(stdout);
        m_byPath[how] << toArrival;
    }

    void summary() const {
        for (const auto& [how, times] : m_byPath)
            std::printf("%s: through %s, key→backend median %.1f ms over %lld presses\n",
                        qPrintable(qEnvironmentVariable("QUILL_TEST_SESSION")), qPrintable(how),
                        median(times), static_cast<long long>(times.size()));
    }

private:
    qsizetype explainRequests() const {
        const QList<QJsonObject> requests = m_backend.requests();
        return std::count_if(requests.cbegin(), requests.cend(),
                             [](const QJsonObject& request) { return request["path"] == "/api/explain"; });
    }
    QJsonObject lastExplainRequest() const {
        const QList<QJsonObject> requests = m_backend.requests();
        for (qsizetype i = requests.size() - 1; i >= 0; --i) {
            if (requests[i]["path"] == "/api/explain")
                return requests[i];
        }
        return {};
    }
    double lastExplainArrival() const { return lastExplainRequest()["arrivedMs"].toDouble(); }
    bool sentMark(qsizetype first) const {
        return mark(m_program.lines().mid(first), "explain request sent").has_value();
    }

    bool open(const Application& application, QString* window) {
        const QString dir = m_files.filePath(QString::number(QDateTime::currentMSecsSinceEpoch()));
        QDir().mkpath(dir + "/profile");
        QFile document(dir + "/notes.txt");
        if (!document.open(QIODevice::WriteOnly))
            return false;
        document.write(application.document);
        document.close();
        QStringList arguments;
        for (QString argument : application.arguments) {
            argument.replace("%DIR", dir + "/profile");
            argument.replace("%PAGE", QUrl::fromLocalFile(m_files.filePath("page.html")).toString());
            argument.replace("%FILE", document.fileName());
            arguments << argument;
        }
        m_target.setProcessEnvironment(environmentWith(application.environment));
        m_target.setStandardOutputFile(QProcess::nullDevice());
        m_target.setStandardErrorFile(QProcess::nullDevice());
        m_target.setChildProcessModifier([] { ::setsid(); });
        m_target.start(application.program, arguments);
        if (!m_target.waitForStarted())
            return false;
        QElapsedTimer waited;
        waited.start();
        QString windows;
        const auto shown = [&] {
            if (onKWin())
                return accessibleWindowIsActive(application.accessibleName, application.title);
            return xdotool({"search", "--onlyvisible", "--class", application.windowClass}, &windows) &&
                   (application.title.isEmpty() ||
                    xdotool({"search", "--onlyvisible", "--name", application.title}, &windows));
        };
        while (!shown()) {
            if (waited.hasExpired(60000))
                return false;
            QTest::qWait(250);
        }
        QTest::qWait(2500);
        *window = windows.split('\n').constFirst();
        if (!onKWin())
            xdotool({"windowactivate", "--sync", *window});
        return true;
    }

    void close() {
        if (m_target.state() != QProcess::NotRunning) {
            ::kill(-static_cast<pid_t>(m_target.processId()), SIGKILL);
            m_target.waitForFinished(5000);
        }
    }

    TestBackend m_backend;
    AppProcess m_program;
    QTemporaryDir m_files;
    QProcess m_target;
    std::map<QString, QList<double>> m_byPath;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    const int rounds = arguments.isEmpty() ? 10 : arguments.takeFirst().toInt();
    Bench bench;
    if (!bench.start()) {
        std::fprintf(stderr, "application_latency: the program did not start\n");
        return 1;
    }
    std::printf("application_latency (%s): key event → explain request on the socket\n",
                qPrintable(qEnvironmentVariable("QUILL_TEST_SESSION")));
    for (const Application& candidate : applications()) {
        if (arguments.isEmpty() || arguments.contains(candidate.name))
            bench.measure(candidate, rounds);
    }
    bench.summary();
    return 0;
}
