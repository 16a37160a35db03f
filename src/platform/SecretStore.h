#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <memory>

namespace quill {

// The outcome of one secret-store call. Errors are values: callers decide what a failure means.
struct SecretResult {
    enum class Status {
        Ok,          // done; for lookups, `value` holds the secret
        NotFound,    // lookups only: no such item
        Unavailable, // no secret store exists in this session at all
        Failed,      // the store exists but refused, timed out or broke
    };
    Status status = Status::Failed;
    QByteArray value;
    int code = 0; // the platform's error code, 0 when there is none
    QString message;

    bool ok() const { return status == Status::Ok; }
};

// Small secrets kept by (service, account), one item each.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual SecretResult store(const QString& service, const QString& account, const QByteArray& value) = 0;
    virtual SecretResult lookup(const QString& service, const QString& account) = 0;
    virtual SecretResult clear(const QString& service, const QString& account) = 0;
};

} // namespace quill
