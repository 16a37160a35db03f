#include "platform/wayland/PipeWriter.h"

#include <QDir>
#include <QTest>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

using namespace quill;
using namespace std::chrono_literals;

namespace {

int threadCount() {
    return int(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The bytes a pipe's reader gets until the writer closes it or, if it never does, until `deadline`.
QByteArray readAll(int fd, std::chrono::milliseconds wait = 5s) {
    QByteArray data;
    char buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < deadline) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n == 0)
            break;
        if (n > 0)
            data.append(buffer, n);
        else if (errno == EAGAIN)
            QTest::qWait(1);
        else
            break;
    }
    return data;
}

struct Pipe {
    int read = -1;
    int write = -1;
};

Pipe makePipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return {};
    return {fds[0], fds[1]};
}

} // namespace

class TestPipeWriter : public QObject {
    Q_OBJECT
private slots:
    void servesEveryByteToAReader();
    void manyUnreadRequestsCostBoundedThreadsAndDescriptors();
};

void TestPipeWriter::servesEveryByteToAReader() {
    wayland::PipeWriter writer;
    QByteArray bytes(qsizetype(3) * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 31);
    const Pipe first = makePipe();
    const Pipe second = makePipe();
    writer.serve(first.write, bytes);
    writer.serve(second.write, QByteArray("small"));
    // Each reader gets its own contents whole, whatever order they read in.
    QCOMPARE(readAll(second.read), QByteArray("small"));
    QVERIFY(readAll(first.read) == bytes);
    ::close(first.read);
    ::close(second.read);
    QTRY_COMPARE(writer.pending(), std::size_t(0));
}

void TestPipeWriter::manyUnreadRequestsCostBoundedThreadsAndDescriptors() {
    const int threadsBefore = threadCount();
    wayland::PipeWriter writer(8, 300ms);
    const QByteArray big(qsizetype(1024) * 1024, 'x');
    std::vector<Pipe> pipes;
    for (int i = 0; i < 200; ++i) {
        pipes.push_back(makePipe());
        writer.serve(pipes.back().write, big);
    }
    QVERIFY(threadCount() <= threadsBefore + 1);
    QCOMPARE(writer.pending(), std::size_t(8));
    // The oldest were dropped: their readers get what fit into the pipe, then the end.
    QVERIFY(readAll(pipes.front().read, 2s).size() < big.size());
    // The newest are given up on once their readers stall past the time-out.
    QTRY_COMPARE_WITH_TIMEOUT(writer.pending(), std::size_t(0), 5000);
    for (const Pipe& pipe : pipes)
        ::close(pipe.read);
}

QTEST_GUILESS_MAIN(TestPipeWriter)
#include "tst_pipewriter.moc"
