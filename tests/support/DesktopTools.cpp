#include "DesktopTools.h"

#include <QProcess>
#include <chrono>
#include <fcntl.h>
#include <unistd.h>

namespace quill::test {

bool xdotool(const QStringList& arguments, QString* output) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForFinished(15000) || process.exitCode() != 0)
        return false;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return true;
}

QString activateWindow(const QString& windowClass) {
    QString windows;
    if (!xdotool({"search", "--sync", "--onlyvisible", "--class", windowClass}, &windows))
        return {};
    const QString window = windows.split('\n').constFirst();
    xdotool({"windowactivate", "--sync", window});
    return window;
}

QByteArray speechPcm(const QString& words) {
    QProcess process;
    process.start(QStringLiteral("bash"),
                  {"-c", "espeak-ng --stdout \"$0\" | sox - -r 16000 -c 1 -b 16 -e signed -t raw -", words});
    process.waitForFinished(20000);
    return process.readAllStandardOutput();
}

MicFeeder::MicFeeder(QByteArray pcm) : m_pcm(std::move(pcm)) {
    m_thread = std::thread([this] { run(); });
}

MicFeeder::~MicFeeder() {
    m_stop = true;
    m_thread.join();
}

void MicFeeder::run() {
    const int fd = ::open(qgetenv("QUILL_TEST_MIC_FIFO").constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    constexpr qsizetype chunk = 640; // 20 ms
    auto next = std::chrono::steady_clock::now();
    for (qsizetype offset = 0; !m_stop; offset = (offset + chunk) % (m_pcm.size() - chunk)) {
        if (::write(fd, m_pcm.constData() + offset, chunk) < 0) {
            break;
        }
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
    }
    ::close(fd);
}

} // namespace quill::test
