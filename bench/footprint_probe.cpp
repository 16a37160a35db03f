// What the program costs while it waits, next to a bare Qt tray program (bench/footprint.sh
// runs it inside scripts/test-desktop.sh --mic-fifo). For each program, several starts:
//   start        exec until its StatusNotifierItem is registered with our tray host
//   RSS, PSS     /proc/PID/smaps_rollup after the settle time
//   idle CPU     utime+stime ticks (/proc/PID/stat) over the idle time that follows
//   recording    Quillpoint only: % of a core over a recording from the microphone pipe,
//                started and stopped with Ctrl+2, measured from 1 s after the press
// and the medians, with the ratios against the bare program.
//   footprint_probe --bare BIN --app BIN [--runs 5] [--settle 10] [--idle 30] [--record 10] [--maps]

#include "DesktopTools.h"
#include "StatusNotifierHost.h"
#include "TestHttpServer.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

using namespace quill::test;

namespace {

struct Sample {
    double startMs = -1;
    double rssKb = 0;
    double pssKb = 0;
    double idleTicks = 0;
    double recordingPercent = -1;
};

struct Mapping {
    double rssKb = 0;
    double pssKb = 0;
};

double median(std::vector<double> values) {
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::pair<double, double> rollup(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {-1, -1};
    double rss = -1, pss = -1;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "Rss:")
            rss = fields[1].toDouble();
        else if (fields.size() >= 2 && fields[0] == "Pss:")
            pss = fields[1].toDouble();
    }
    return {rss, pss};
}

double cpuTicks(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = file.readAll();
    // Fields after the command name, which may itself hold spaces: state is field 3.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toDouble() + fields[12].toDouble() : -1;
}

// Resident and proportional size of each mapped file (anonymous memory under its kind).
QMap<QString, Mapping> mappings(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/smaps").arg(pid));
    QMap<QString, Mapping> result;
    if (!file.open(QIODevice::ReadOnly))
        return result;
    QString current;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QList<QByteArray> fields = raw.simplified().split(' ');
        if (fields.isEmpty() || fields[0].isEmpty())
            continue;
        if (fields[0].contains('-') && !fields[0].endsWith(':')) {
            current = fields.size() >= 6 ? QString::fromLocal8Bit(fields.mid(5).join(' '))
                                         : QStringLiteral("[anonymous]");
        } else if (fields[0] == "Rss:") {
            result[current].rssKb += fields[1].toDouble();
        } else if (fields[0] == "Pss:") {
            result[current].pssKb += fields[1].toDouble();
        }
    }
    return result;
}

void printMappings(const char* name, const QMap<QString, Mapping>& maps,
                   const QMap<QString, Mapping>& other) {
    std::vector<std::pair<QString, Mapping>> sorted(maps.keyValueBegin(), maps.keyValueEnd());
    std::sort(sorted.begin(), sorted.end(),
              [](const auto& a, const auto& b) { return a.second.rssKb > b.second.rssKb; });
    std::printf("\n%s: mappings by RSS (kB), * = not mapped by the other program\n", name);
    double onlyHere = 0;
    for (const auto& [path, mapping] : sorted) {
        if (!other.contains(path) && path.startsWith('/'))
            onlyHere += mapping.rssKb;
    }
    int shown = 0;
    for (const auto& [path, mapping] : sorted) {
        if (++shown > 40 || mapping.rssKb < 100)
            break;
        std::printf("  %8.0f %8.0f %s%s\n", mapping.rssKb, mapping.pssKb, other.contains(path) ? " " : "*",
                    qPrintable(path));
    }
    std::printf("  files mapped only here: %.0f kB RSS\n", onlyHere);
}

class Probe {
public:
    Probe(StatusNotifierHost& host, TestHttpServer& backend) : m_host(host), m_backend(backend) {}

    Sample measure(const QString& binary, int settleS, int idleS, int recordS, QMap<QString, Mapping>* maps) {
        Sample sample;
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QEventLoop loop;
        QElapsedTimer timer;
        const auto connection = QObject::connect(
            &m_host, &StatusNotifierHost::StatusNotifierItemRegistered, &loop, [&](const QString& service) {
                const QString name = service.section(u'/', 0, 0);
                const auto pid = QDBusConnection::sessionBus().interface()->servicePid(name).value();
                if (qint64(pid) == process.processId()) {
                    sample.startMs = timer.nsecsElapsed() / 1e6;
                    loop.quit();
                }
            });
        QTimer::singleShot(15000, &loop, &QEventLoop::quit);
        timer.start();
        process.start(binary, {});
        loop.exec();
        QObject::disconnect(connection);
        const qint64 pid = process.processId();
        if (sample.startMs < 0) {
            std::fprintf(stderr, "footprint: %s registered no tray item\n", qPrintable(binary));
        } else {
            QTest::qWait(settleS * 1000);
            std::tie(sample.rssKb, sample.pssKb) = rollup(pid);
            if (maps)
                *maps = mappings(pid);
            const double before = cpuTicks(pid);
            QTest::qWait(idleS * 1000);
            sample.idleTicks = cpuTicks(pid) - before;
            if (recordS > 0)
                sample.recordingPercent = recordingCpu(pid, recordS);
        }
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
        return sample;
    }

private:
    double recordingCpu(qint64 pid, int seconds) {
        m_backend.enqueue(ScriptedReply::status(200, "application/json").write(R"({"text":""})"));
        const qsizetype requests = m_backend.requests.size();
        xdotool({"key", "ctrl+2"});
        QTest::qWait(1000);
        const double before = cpuTicks(pid);
        QTest::qWait(seconds * 1000);
        const double ticks = cpuTicks(pid) - before;
        xdotool({"key", "ctrl+2"});
        if (!QTest::qWaitFor([&] { return m_backend.requests.size() > requests; }, 15000)) {
            std::fprintf(stderr, "footprint: the recording reached no upload\n");
            return -1;
        }
        QTest::qWait(1000);
        return 100.0 * ticks / double(sysconf(_SC_CLK_TCK)) / seconds;
    }

    StatusNotifierHost& m_host;
    TestHttpServer& m_backend;
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString bare, program;
    int runs = 5, settleS = 10, idleS = 30, recordS = 10;
    bool showMaps = false;
    const QStringList arguments = app.arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments.at(i);
        const QString next = i + 1 < arguments.size() ? arguments.at(i + 1) : QString();
        if (a == "--bare")
            bare = next, ++i;
        else if (a == "--app")
            program = next, ++i;
        else if (a == "--runs")
            runs = next.toInt(), ++i;
        else if (a == "--settle")
            settleS = next.toInt(), ++i;
        else if (a == "--idle")
            idleS = next.toInt(), ++i;
        else if (a == "--record")
            recordS = next.toInt(), ++i;
        else if (a == "--maps")
            showMaps = true;
    }
    if (bare.isEmpty() || program.isEmpty() || runs < 1) {
        std::fprintf(stderr, "usage: footprint_probe --bare BIN --app BIN [--runs N] [--settle S] "
                             "[--idle S] [--record S] [--maps]\n");
        return 2;
    }

    StatusNotifierHost host;
    if (!host.start()) {
        std::fprintf(stderr, "footprint: cannot own org.kde.StatusNotifierWatcher\n");
        return 1;
    }
    TestHttpServer backend;
    const QString configDir =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/Quillpoint";
    QDir().mkpath(configDir);
    QFile config(configDir + "/Quillpoint.conf");
    if (!config.open(QIODevice::WriteOnly))
        return 1;
    config.write("[General]\nquillpoint_api_base_url_override=" + backend.baseUrl().toUtf8() + "\n");
    config.close();
    std::unique_ptr<MicFeeder> microphone;
    if (recordS > 0)
        microphone = std::make_unique<MicFeeder>(speechPcm("Idle costs nothing; recording costs little."));

    Probe probe(host, backend);
    QMap<QString, Mapping> bareMaps, appMaps;
    std::vector<Sample> bareSamples, appSamples;
    // Alternating, so that a change in the machine's load touches both alike.
    for (int run = 0; run < runs; ++run) {
        const bool last = run == runs - 1;
        bareSamples.push_back(probe.measure(bare, settleS, idleS, 0, last ? &bareMaps : nullptr));
        appSamples.push_back(probe.measure(program, settleS, idleS, recordS, last ? &appMaps : nullptr));
        std::fprintf(stderr, "run %d: bare %.1f ms %.0f kB, quillpoint %.1f ms %.0f kB %.0f ticks %.2f %%\n",
                     run + 1, bareSamples.back().startMs, bareSamples.back().rssKb, appSamples.back().startMs,
                     appSamples.back().rssKb, appSamples.back().idleTicks,
                     appSamples.back().recordingPercent);
    }

    const auto column = [](const std::vector<Sample>& samples, double Sample::*field) {
        std::vector<double> values;
        for (const Sample& s : samples)
            if (s.startMs >= 0 && s.*field >= 0)
                values.push_back(s.*field);
        return median(values);
    };
    struct Row {
        const char* name;
        double start, rss, pss, ticks, recording;
    };
    const Row rows[] = {
        {"bare tray", column(bareSamples, &Sample::startMs), column(bareSamples, &Sample::rssKb),
         column(bareSamples, &Sample::pssKb), column(bareSamples, &Sample::idleTicks), -1},
        {"quillpoint", column(appSamples, &Sample::startMs), column(appSamples, &Sample::rssKb),
         column(appSamples, &Sample::pssKb), column(appSamples, &Sample::idleTicks),
         column(appSamples, &Sample::recordingPercent)},
    };
    std::printf("median of %d starts; idle after %d s, CPU over %d s idle, recording over %d s\n\n", runs,
                settleS, idleS, recordS);
    std::printf("| program | start | RSS idle | PSS idle | CPU idle | recording CPU |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        std::printf("| %s | %.1f ms | %.1f MB | %.1f MB | %.0f ticks | %s |\n", row.name, row.start,
                    row.rss / 1024, row.pss / 1024, row.ticks,
                    row.recording < 0 ? "-" : qPrintable(QString::number(row.recording, 'f', 2) + " %"));
    }
    std::printf("\nratios: start %.2fx (target <= 1.3), RSS %.2fx (target <= 1.3), PSS %.2fx\n",
                rows[1].start / rows[0].start, rows[1].rss / rows[0].rss, rows[1].pss / rows[0].pss);
    if (showMaps) {
        printMappings("quillpoint", appMaps, bareMaps);
        printMappings("bare tray", bareMaps, appMaps);
    }
    return 0;
}
