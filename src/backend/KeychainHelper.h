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

    // What a read found. A keyring that did not answer (locked, refused, timed out) is `failed`,
    // which callers must not take for a missing item.
    struct Read {
        enum class Status { found, absent, failed };
        Status status = Status::failed;
        QString value;
        QString problem; // for `failed`: the keyring's own words
    };

    const QString& serviceName() const { return m_serviceName; }
    SecretStore& store() const { return m_store; }

    // Replaces any earlier item (delete, then add). True on success.
    bool save(const QString& key, const QString& value);
    Read read(const QString& key);
    // The value when the read found one; none for a missing item and for a failed read alike.
    std::optional<QString> load(const QString& key);
    // True when the item was removed or did not exist.
    bool deleteItem(const QString& key);

private:
    SecretStore& m_store;
    QString m_serviceName;
};

} // namespace quill
