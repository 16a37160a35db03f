#pragma once

#include "platform/SecretStore.h"

namespace quill {

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

} // namespace quill
