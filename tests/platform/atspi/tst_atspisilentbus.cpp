#include "platform/atspi/AtspiAccessibilityReader.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <future>
#include <memory>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace quill;

// An accessibility bus that takes the connection and never answers, as a frozen one does.
class TestAtspiSilentBus : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void readerNeitherWaitsForTheBusNorKeepsTheProgramFromEnding();

private:
    QTemporaryDir dir;
    int listening = -1;
};

void TestAtspiSilentBus::initTestCase() {
    QVERIFY(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.filePath("bus"));
    listening = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
    QVERIFY(::bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
    QVERIFY(::listen(listening, 16) == 0);
    qputenv("AT_SPI_BUS_ADDRESS", "unix:path=" + path);
}

void TestAtspiSilentBus::cleanupTestCase() {
    if (listening >= 0)
        ::close(listening);
}

namespace {

int threadCount() {
    return static_cast<int>(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

QStringList messages;

void keepMessage(QtMsgType, const QMessageLogContext&, const QString& message) {
    messages << message;
}

} // namespace

void TestAtspiSilentBus::readerNeitherWaitsForTheBusNorKeepsTheProgramFromEnding() {
    // On a thread, so that a reader that does wait fails the test instead of hanging it.
    const int threadsBefore = threadCount();
    auto done = std::make_shared<std::promise<bool>>();
    auto finished = done->get_future();
    std::thread([done] {
        bool answeredNothing = false;
        {
            AtspiAccessibilityReader reader(250, 1000);
            answeredNothing =
                !reader.isAvailable() && !reader.focusedText(std::nullopt) && !reader.activeApplication();
        }
        done->set_value(answeredNothing);
    }).detach();
    QCOMPARE(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    QVERIFY(finished.get());

    // The bus fails once the reader is gone, as it may while the program ends: the thread that
    // was still connecting ends by itself and logs nothing, for logging may be torn down by then.
    qInstallMessageHandler(keepMessage);
    ::close(listening);
    listening = -1;
    const bool ended = QTest::qWaitFor([threadsBefore] { return threadCount() <= threadsBefore; }, 10000);
    qInstallMessageHandler(nullptr);
    QVERIFY(ended);
    QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
}

QTEST_GUILESS_MAIN(TestAtspiSilentBus)
#include "tst_atspisilentbus.moc"
