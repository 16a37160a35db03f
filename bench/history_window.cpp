// A history of 10,000 entries: the time of one write (with the retention check), of opening the
// History window until its list is painted, and of each search typed into it until the list is
// painted again (the search runs on a thread of its own). history_window [entries]
#include "history/HistoryListModel.h"
#include "history/HistoryStore.h"
#include "history/HistoryWindow.h"
#include "platform/QtClipboard.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <ctime>
#include <vector>

using namespace quill;

namespace {

const QStringList words = {
    QStringLiteral("light"),     QStringLiteral("energy"),   QStringLiteral("the"),
    QStringLiteral("plants"),    QStringLiteral("sugar"),    QStringLiteral("chlorophyll"),
    QStringLiteral("process"),   QStringLiteral("cell"),     QStringLiteral("Straße"),
    QStringLiteral("Übersicht"), QStringLiteral("function"), QStringLiteral("returns"),
    QStringLiteral("value"),     QStringLiteral("meeting"),  QStringLiteral("tomorrow"),
    QStringLiteral("budget"),    QStringLiteral("contract"), QStringLiteral("clause"),
    QStringLiteral("and"),       QStringLiteral("of"),
};

QString text(QRandomGenerator& random, int minimum, int maximum) {
    const int length = minimum + int(random.bounded(maximum - minimum));
    QString result;
    result.reserve(length + 16);
    while (result.size() < length)
        result += words.at(int(random.bounded(words.size()))) + u' ';
    return result;
}

// Wall-clock time, and the processor time this thread spent: on a busy machine the first
// includes waiting for a core, the second does not.
struct Stopwatch {
    QElapsedTimer wall;
    double cpuStart = 0;

    static double cpuNow() {
        timespec now{};
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    }
    void restart() {
        wall.start();
        cpuStart = cpuNow();
    }
    double wallMs() const { return double(wall.nsecsElapsed()) / 1e6; }
    double cpuMs() const { return cpuNow() - cpuStart; }
    QString text() const {
        return QStringLiteral("%1 ms (processor %2 ms)").arg(wallMs(), 0, 'f', 2).arg(cpuMs(), 0, 'f', 2);
    }
};

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values.at(std::min(values.size() - 1, size_t(p * double(values.size()))));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10'000;
    QTextStream out(stdout);
    QTemporaryDir dir;
    HistoryStore store(dir.filePath(QStringLiteral("history.sqlite3")));
    if (store.error()) {
        out << *store.error() << Qt::endl;
        return 1;
    }

    // Selections of a sentence to a page, answers of a paragraph to a few, a third transcripts.
    QRandomGenerator random(27);
    std::vector<double> writes;
    std::vector<double> writesCpu;
    for (int i = 0; i < count; ++i) {
        HistoryEntry entry;
        entry.kind = i % 3 == 0 ? HistoryKind::transcript : HistoryKind::explanation;
        entry.application = QStringLiteral("Mousepad");
        if (entry.kind == HistoryKind::transcript) {
            entry.seconds = 2 + random.bounded(28);
            entry.pasted = i % 30 != 0;
        } else {
            entry.input = text(random, 40, 2000);
        }
        entry.output = text(random, 200, 3000);
        Stopwatch watch;
        watch.restart();
        store.add(entry, {30, count});
        writes.push_back(watch.wallMs());
        writesCpu.push_back(watch.cpuMs());
    }
    out << "entries " << store.count() << Qt::endl;
    out << "write: median " << percentile(writes, 0.5) << " ms, p99 " << percentile(writes, 0.99)
        << " ms, max " << *std::max_element(writes.begin(), writes.end()) << " ms; processor median "
        << percentile(writesCpu, 0.5) << " ms, p99 " << percentile(writesCpu, 0.99) << " ms" << Qt::endl;

    QtClipboard clipboard;
    Stopwatch watch;
    watch.restart();
    HistoryWindow window(store, clipboard);
    window.present();
    window.list()->viewport()->repaint();
    out << "open: " << watch.text() << " (" << window.list()->model()->rowCount() << " rows)" << Qt::endl;

    // Until the list shows the answer. The processor time is the main thread's alone: what
    // typing would wait for.
    for (const QString& search : {QStringLiteral("l"), QStringLiteral("li"), QStringLiteral("lig"),
                                  QStringLiteral("light"), QStringLiteral("light energy"),
                                  QStringLiteral("STRASSE"), QStringLiteral("no such words"), QString()}) {
        bool shown = false;
        const QMetaObject::Connection connection =
            QObject::connect(window.model(), &HistoryListModel::searched, [&shown] { shown = true; });
        watch.restart();
        window.searchField()->setText(search);
        while (!shown)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        window.list()->viewport()->repaint();
        QObject::disconnect(connection);
        const QString shownIn = watch.text();
        // The query alone, as the search thread runs it.
        watch.restart();
        store.findIds(search);
        out << "search \"" << search << "\": " << shownIn << " (" << window.list()->model()->rowCount()
            << " rows); the query alone " << watch.text() << Qt::endl;
    }
    return 0;
}
