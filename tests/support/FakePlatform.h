#pragma once

#include "platform/HostInfo.h"
#include "platform/KeyboardLayout.h"
#include "platform/Log.h"
#include "platform/SecretStore.h"

#include <QHash>
#include <QStringList>
#include <atomic>
#include <functional>

namespace quill::test {

// Secrets in memory; `failStores`/`failLookups`/`unavailable` make the next calls fail the way a
// keyring can (a locked one fails its lookups). `beforeLookup` runs on the caller's thread first,
// e.g. to hold a lookup the way an open unlock prompt does.
class FakeSecretStore final : public SecretStore {
public:
    SecretResult store(const QString& service, const QString& account, const QByteArray& value) override;
    SecretResult lookup(const QString& service, const QString& account) override;
    SecretResult clear(const QString& service, const QString& account) override;
    void watchUnlock(const std::function<void()>& callback) override { onUnlocked = callback; }

    QHash<QString, QByteArray> items; // "service/account" -> value
    std::atomic_bool failStores = false;
    std::atomic_bool failLookups = false;
    std::atomic_bool unavailable = false;
    std::atomic_int storeCalls = 0;
    std::atomic_int lookupCalls = 0;
    std::function<void()> beforeLookup;
    std::function<void()> onUnlocked;
};

class FakeHostInfo final : public HostInfo {
public:
    explicit FakeHostInfo(QString name) : m_name(std::move(name)) {}
    QString hostName() const override { return m_name; }

private:
    QString m_name;
};

// Collects log lines for the life of the object instead of printing them.
// A layout whose keys carry the labels a test gives; the others keep their US names.
class FakeKeyboardLayout final : public KeyboardLayout {
public:
    QString keyLabel(Qt::Key physicalKey) override { return labels.value(physicalKey); }
    QHash<Qt::Key, QString> labels;
};

class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    QStringList lines;
};

} // namespace quill::test
