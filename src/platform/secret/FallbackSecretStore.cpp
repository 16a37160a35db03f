#include "FallbackSecretStore.h"

#include "platform/Log.h"

namespace quill {

FallbackSecretStore::FallbackSecretStore(std::unique_ptr<SecretStore> primary,
                                         std::unique_ptr<FileSecretStore> fallback)
    : m_primary(std::move(primary))
    , m_fallback(std::move(fallback)) {}

template <typename Call> SecretResult FallbackSecretStore::withFallback(Call call) {
    SecretResult r = call(*m_primary);
    if (r.status != SecretResult::Status::unavailable)
        return r;
    if (!m_announced.exchange(true)) {
        logLine(lcPlatform(), QStringLiteral("KeychainHelper"),
                QStringLiteral("Keyring unavailable (%1); keeping secrets in %2")
                    .arg(r.message, m_fallback->path()));
    }
    return call(*m_fallback);
}

SecretResult FallbackSecretStore::store(const QString& service, const QString& account,
                                        const QByteArray& value) {
    return withFallback([&](SecretStore& s) { return s.store(service, account, value); });
}

SecretResult FallbackSecretStore::lookup(const QString& service, const QString& account) {
    return withFallback([&](SecretStore& s) { return s.lookup(service, account); });
}

SecretResult FallbackSecretStore::clear(const QString& service, const QString& account) {
    return withFallback([&](SecretStore& s) { return s.clear(service, account); });
}

} // namespace quill
