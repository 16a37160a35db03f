// Writes history entries as fast as it can and prints each one's id once its write returned,
// until it is killed. tst_historykill kills it in the middle of its writes.
#include "history/HistoryStore.h"

#include <QCoreApplication>
#include <cstdio>

using namespace quill;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    HistoryStore store(QString::fromLocal8Bit(argv[1]));
    if (store.error())
        return 1;
    // Large entries make the process spend most of its time inside a write.
    const QString output(20'000, u'w');
    for (qint64 i = 0;; ++i) {
        HistoryEntry entry;
        entry.kind = HistoryKind::transcript;
        entry.seconds = double(i);
        entry.output = QString::number(i) + output;
        entry.pasted = false;
        const std::optional<qint64> id = store.add(entry, {3650, 100'000});
        if (!id)
            return 1;
        std::printf("%lld\n", static_cast<long long>(*id));
        std::fflush(stdout);
    }
}
