#pragma once

#include <QProcess>
#include <QStringList>

namespace quill::test {

// The real program, started from $QUILLPOINT_BINARY, with its output collected line by line.
class AppProcess {
public:
    AppProcess();
    ~AppProcess();
    AppProcess(const AppProcess&) = delete;
    AppProcess& operator=(const AppProcess&) = delete;

    void start(const QStringList& extraEnvironment = {}, const QStringList& arguments = {});
    // Waits, running the event loop, until a line containing `text` was printed.
    bool waitForLine(const QString& text, int timeoutMs = 10000);
    bool waitForExit(int timeoutMs = 10000);
    QStringList lines() const { return m_lines; }
    QProcess& process() { return m_process; }
    qint64 pid() const { return m_process.processId(); }

private:
    QProcess m_process;
    QStringList m_lines;
    QByteArray m_partial;
};

} // namespace quill::test
