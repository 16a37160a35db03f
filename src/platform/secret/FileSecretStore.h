#pragma once

#include "platform/SecretStore.h"

namespace quill {

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

} // namespace quill
