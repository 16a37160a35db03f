#include "DesktopTools.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <cerrno>
#include <chrono>
#include <csignal>
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

QString commandOutput(const QString& program, const QStringList& arguments, bool* ok) {
    QProcess process;
    process.start(program, arguments);
    const bool finished = process.waitForFinished(10000);
    if (ok)
        *ok = finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

bool dragAlongScreenRow(const QString& window, int y) {
    QString geometry;
    if (!xdotool({"getwindowgeometry", "--shell", window}, &geometry))
        return false;
    int left = 0;
    int top = 0;
    for (const QString& line : geometry.split('\n')) {
        if (line.startsWith("X="))
            left = line.mid(2).toInt();
        else if (line.startsWith("Y="))
            top = line.mid(2).toInt();
    }
    const QString row = QString::number(top + y);
    return xdotool({"mousemove", QString::number(left + 2), row, "mousedown", "1"}) &&
           xdotool({"mousemove", QString::number(left + 400), row}) &&
           xdotool({"mousemove", QString::number(left + 1200), row, "mouseup", "1"});
}

QList<int> processesOf(const QByteArray& program, const char* variable) {
    QList<int> pids;
    const QByteArray entry = QByteArray(variable) + '=' + qgetenv(variable);
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const int pid = name.toInt(&number);
        QFile command(QStringLiteral("/proc/%1/cmdline").arg(name));
        QFile environment(QStringLiteral("/proc/%1/environ").arg(name));
        if (!number || !command.open(QIODevice::ReadOnly) || !environment.open(QIODevice::ReadOnly))
            continue;
        if (command.readAll().split('\0').value(0) == program &&
            environment.readAll().split('\0').contains(entry))
            pids << pid;
    }
    return pids;
}

QString activateWindow(const QString& windowClass) {
    QString windows;
    if (!xdotool({"search", "--sync", "--onlyvisible", "--class", windowClass}, &windows))
        return {};
    QString window = windows.split('\n').constFirst();
    xdotool({"windowactivate", "--sync", window});
    return window;
}

QString writeProgramSettings(const QString& backendUrl, const QByteArray& moreLines,
                             const QString& configHome) {
    const QString home = configHome.isEmpty()
                             ? QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             : configHome;
    if (!QDir().mkpath(home + QStringLiteral("/Quillpoint")))
        return {};
    QFile config(home + QStringLiteral("/Quillpoint/Quillpoint.conf"));
    if (!config.open(QIODevice::WriteOnly))
        return {};
    config.write("[General]\nquillpoint_api_base_url_override=" + backendUrl.toUtf8() + "\n" + moreLines);
    return config.fileName();
}

QProcessEnvironment environmentWith(const QStringList& changes) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : changes) {
        if (entry.startsWith(u'-'))
            env.remove(entry.mid(1));
        else
            env.insert(entry.section(u'=', 0, 0), entry.section(u'=', 1));
    }
    return env;
}

EditedDocument::EditedDocument(const QByteArray& text) {
    QFile file(m_dir.filePath(QStringLiteral("notes.txt")));
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(text);
    file.close();
    m_editor.start(QStringLiteral("mousepad"), {file.fileName()});
    m_window = activateWindow(QStringLiteral("mousepad"));
}

EditedDocument::~EditedDocument() {
    m_editor.kill();
    m_editor.waitForFinished(3000);
}

QString EditedDocument::savedText() const {
    QFile file(m_dir.filePath(QStringLiteral("notes.txt")));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QByteArray speechPcm(const QString& words) {
    QProcess process;
    process.start(QStringLiteral("bash"),
                  {"-c", "espeak-ng --stdout \"$0\" | sox - -r 16000 -c 1 -b 16 -e signed -t raw -", words});
    process.waitForFinished(20000);
    return process.readAllStandardOutput();
}

MicFeeder::MicFeeder(QByteArray pcm, QString fifo)
    : m_pcm(std::move(pcm))
    , m_fifo(fifo.isEmpty() ? qEnvironmentVariable("QUILL_TEST_MIC_FIFO") : std::move(fifo)) {
    // A pipe whose reader went away (its source unloaded) must end the feeding, not the test.
    std::signal(SIGPIPE, SIG_IGN);
    m_thread = std::thread([this] { run(); });
}

MicFeeder::~MicFeeder() {
    m_stop = true;
    m_thread.join();
}

void MicFeeder::run() {
    const int fd = ::open(QFile::encodeName(m_fifo).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    // A source nobody records from may stop reading: then the pipe fills, and a blocking write
    // would keep the feeder from ever seeing that it should stop.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    constexpr qsizetype chunk = 640; // 20 ms
    auto next = std::chrono::steady_clock::now();
    for (qsizetype offset = 0; !m_stop; offset = (offset + chunk) % (m_pcm.size() - chunk)) {
        if (::write(fd, m_pcm.constData() + offset, chunk) >= 0) {
            m_feeding = true;
        } else if (errno != EAGAIN) {
            break;
        }
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
    }
    ::close(fd);
}

} // namespace quill::test
