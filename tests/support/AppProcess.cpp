#include "AppProcess.h"

#include <QProcessEnvironment>
#include <QTest>

namespace quill::test {

AppProcess::AppProcess() {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    QObject::connect(&m_process, &QProcess::readyRead, [this] {
        m_partial += m_process.readAll();
        qsizetype newline;
        while ((newline = m_partial.indexOf('\n')) >= 0) {
            m_lines << QString::fromUtf8(m_partial.left(newline));
            m_partial.remove(0, newline + 1);
        }
    });
}

AppProcess::~AppProcess() {
    if (m_process.state() != QProcess::NotRunning) {
        m_process.terminate();
        if (!m_process.waitForFinished(3000))
            m_process.kill();
        m_process.waitForFinished(1000);
    }
}

void AppProcess::start(const QStringList& extraEnvironment, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnvironment) {
        const qsizetype eq = entry.indexOf(u'=');
        env.insert(entry.left(eq), entry.mid(eq + 1));
    }
    m_process.setProcessEnvironment(env);
    m_process.start(qEnvironmentVariable("QUILLPOINT_BINARY"), arguments);
    m_process.waitForStarted(5000);
}

bool AppProcess::waitForLine(const QString& text, int timeoutMs) {
    return QTest::qWaitFor([&] { return !m_lines.filter(text).isEmpty(); }, timeoutMs);
}

bool AppProcess::waitForExit(int timeoutMs) {
    return QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; }, timeoutMs);
}

} // namespace quill::test
