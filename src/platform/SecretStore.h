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

// The desktop keyring through the Secret Service. Each call waits at most `timeoutMs`, so a
// hung or locked keyring daemon never freezes the caller for long.
class LibsecretSecretStore final : public SecretStore {
public:
    explicit LibsecretSecretStore(int timeoutMs = 1000);
    SecretResult store(const QString& service, const QString& account, const QByteArray& value) override;
    SecretResult lookup(const QString& service, const QString& account) override;
    SecretResult clear(const QString& service, const QString& account) override;

private:
    int m_timeoutMs;
};

// A JSON file readable only by the user, replaced atomically on every write. Used only where
// no Secret Service exists at all.
class FileSecretStore final : public SecretStore {
public:
    explicit FileSecretStore(QString path);
    SecretResult store(const QString& service, const QString& account, const QByteArray& value) override;
    SecretResult lookup(const QString& service, const QString& account) override;
    SecretResult clear(const QString& service, const QString& account) override;
    const QString& path() const { return m_path; }

private:
    QString m_path;
};

// Uses `primary` and, whenever it reports that no store exists, `fallback`; says so once.
class FallbackSecretStore final : public SecretStore {
public:
    FallbackSecretStore(std::unique_ptr<SecretStore> primary, std::unique_ptr<FileSecretStore> fallback);
    SecretResult store(const QString& service, const QString& account, const QByteArray& value) override;
    SecretResult lookup(const QString& service, const QString& account) override;
    SecretResult clear(const QString& service, const QString& account) override;

private:
    template <typename Call> SecretResult withFallback(Call call);

    std::unique_ptr<SecretStore> m_primary;
    std::unique_ptr<FileSecretStore> m_fallback;
    std::atomic_bool m_announced = false;
};

} // namespace quill
