#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

namespace quill {

// The outcome of one secret-store call. Errors are values: callers decide what a failure means.
struct SecretResult {
    enum class Status {
        ok,          // done; for lookups, `value` holds the secret
        notFound,    // lookups only: no such item
        unavailable, // no secret store exists in this session at all
        failed,      // the store exists but refused, timed out or broke
    };
    Status status = Status::failed;
    QByteArray value;
    int code = 0; // the platform's error code, 0 when there is none
    QString message;

    bool ok() const { return status == Status::ok; }
};

// Small secrets kept by (service, account), one item each. The calls may be made from any
// thread; a locked store may ask the user to unlock it before it answers.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretResult store(const QString& service, const QString& account, const QByteArray& value) = 0;
    virtual SecretResult lookup(const QString& service, const QString& account) = 0;
    virtual SecretResult clear(const QString& service, const QString& account) = 0;

    // The callback runs on the main thread whenever the store may have become readable again
    // (the user unlocked it). Replaces an earlier watcher; never called after the store is gone.
    virtual void watchUnlock(const std::function<void()>&) {}
};

} // namespace quill
