#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QTemporaryDir>

namespace quill::test {

// The reference backend from backend/, on a free loopback port, in demo mode (fixed answers, no
// upstream) unless told otherwise, and with its test-only request log, so a test sees exactly
// what the program sent.
class TestBackend {
public:
    TestBackend();
    ~TestBackend();
    TestBackend(const TestBackend&) = delete;
    TestBackend& operator=(const TestBackend&) = delete;

    // `changes` to its environment: "NAME=value" sets, "-NAME" removes ("-QUILLPOINT_DEMO" to
    // talk to the upstreams it is given).
    bool start(const QStringList& changes = {});
    QString baseUrl() const { return m_baseUrl; }
    // Every request logged so far, oldest first.
    QList<QJsonObject> requests() const;

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_baseUrl;
};

} // namespace quill::test
