#pragma once

#include <QString>
#include <optional>

namespace quill {

class SecretStore;

// Short secret strings in the user's keyring, one item per account name under the
// application's service name. No cache: every read goes to the keyring.
class KeychainHelper {
public:
    explicit KeychainHelper(SecretStore& store);

    const QString& serviceName() const { return m_serviceName; }

    // Replaces any earlier item (delete, then add). True on success.
    bool save(const QString& key, const QString& value);
    std::optional<QString> load(const QString& key);
    // True when the item was removed or did not exist.
    bool deleteItem(const QString& key);

private:
    SecretStore& m_store;
    QString m_serviceName;
};

} // namespace quill
