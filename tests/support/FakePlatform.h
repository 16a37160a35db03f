#pragma once

#include "platform/HostInfo.h"
#include "platform/Log.h"
#include "platform/SecretStore.h"

#include <QHash>
#include <QStringList>

namespace quill::test {

// Secrets in memory; `failStores`/`unavailable` make the next calls fail the way a keyring can.
class FakeSecretStore final : public SecretStore {
public:
    SecretResult store(const QString& service, const QString& account, const QByteArray& value) override;
    SecretResult lookup(const QString& service, const QString& account) override;
    SecretResult clear(const QString& service, const QString& account) override;

    QHash<QString, QByteArray> items; // "service/account" -> value
    bool failStores = false;
    bool unavailable = false;
    int storeCalls = 0;
};

class FakeHostInfo final : public HostInfo {
public:
    explicit FakeHostInfo(QString name) : m_name(std::move(name)) {}
    QString hostName() const override { return m_name; }

private:
    QString m_name;
};

// Collects log lines for the life of the object instead of printing them.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    QStringList lines;
};

} // namespace quill::test
