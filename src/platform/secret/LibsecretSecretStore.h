#pragma once

#include "platform/SecretStore.h"

#include <memory>

namespace quill {

class SecretServiceWatcher;

// The desktop keyring through the Secret Service. On the main thread a call waits at most
// `timeoutMs`, and a lookup there reports a locked item as a failure without raising an unlock
// prompt, so a hung or locked keyring never freezes the interface for long. Elsewhere a call
// asks the user to unlock a locked collection and waits for the answer as long as it takes:
// libsecret cannot cancel a call that waits for a prompt. Writes belong off the main thread.
class LibsecretSecretStore final : public SecretStore {
public:
    explicit LibsecretSecretStore(int timeoutMs = 1000);
    ~LibsecretSecretStore() override;
    SecretResult store(const QString& service, const QString& account, const QByteArray& value) override;
    SecretResult lookup(const QString& service, const QString& account) override;
    SecretResult clear(const QString& service, const QString& account) override;
    void watchUnlock(const std::function<void()>& onUnlocked) override;

private:
    int m_timeoutMs;
    std::unique_ptr<SecretServiceWatcher> m_watcher;
};

} // namespace quill
