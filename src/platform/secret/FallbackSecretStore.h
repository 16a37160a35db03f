#pragma once

#include "FileSecretStore.h"

#include <atomic>
#include <memory>

namespace quill {

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
