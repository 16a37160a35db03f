#include "TestBackend.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QRegularExpression>

namespace quill::test {

TestBackend::TestBackend() {
    m_process.setProcessChannelMode(QProcess::MergedChannels);
}

TestBackend::~TestBackend() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

bool TestBackend::start() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PORT", "0");
    env.insert("HOST", "127.0.0.1");
    env.insert("QUILLPOINT_DEMO", "1");
    env.insert("QUILLPOINT_DATA_DIR", m_dir.path() + "/data");
    env.insert("QUILLPOINT_REQUEST_LOG", m_dir.path() + "/requests.jsonl");
    m_process.setProcessEnvironment(env);
    m_process.start("node", {qEnvironmentVariable("QUILLPOINT_SOURCE_DIR") + "/backend/src/main.js"});
    static const QRegularExpression listening(R"(listening on (http://127\.0\.0\.1:\d+))");
    QByteArray output;
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired() && m_process.waitForReadyRead(int(deadline.remainingTime()))) {
        output += m_process.readAll();
        if (const auto match = listening.match(QString::fromUtf8(output)); match.hasMatch()) {
            m_baseUrl = match.captured(1);
            return true;
        }
    }
    qWarning("backend did not start: %s", output.constData());
    return false;
}

QList<QJsonObject> TestBackend::requests() const {
    QList<QJsonObject> result;
    QFile log(m_dir.path() + "/requests.jsonl");
    if (!log.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (!line.trimmed().isEmpty())
            result << QJsonDocument::fromJson(line).object();
    }
    return result;
}

} // namespace quill::test
