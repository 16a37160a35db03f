#include "TestBackend.h"

#include "DesktopTools.h"

#include <QFile>
#include <QJsonDocument>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTest>

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

bool TestBackend::start(const QStringList& changes) {
    QStringList settings{"PORT=0", "HOST=127.0.0.1", "QUILLPOINT_DEMO=1",
                         "QUILLPOINT_DATA_DIR=" + m_dir.path() + "/data",
                         "QUILLPOINT_REQUEST_LOG=" + m_dir.path() + "/requests.jsonl"};
    m_process.setProcessEnvironment(environmentWith(settings + changes));
    m_process.start("node", {qEnvironmentVariable("QUILLPOINT_SOURCE_DIR") + "/backend/src/main.js"});
    static const QRegularExpression listening(R"(listening on (http://127\.0\.0\.1:\d+))");
    QByteArray output;
    // The event loop keeps turning meanwhile: a fake upstream of this process answers the
    // backend's questions at start-up.
    const bool started = QTest::qWaitFor(
        [&] {
            output += m_process.readAll();
            const auto match = listening.match(QString::fromUtf8(output));
            if (match.hasMatch())
                m_baseUrl = match.captured(1);
            return match.hasMatch() || m_process.state() == QProcess::NotRunning;
        },
        20000);
    if (started && !m_baseUrl.isEmpty())
        return true;
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
