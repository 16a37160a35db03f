#include "KeychainHelper.h"

#include "platform/AppInfo.h"
#include "platform/Log.h"
#include "platform/SecretStore.h"

#include <QStringDecoder>

namespace quill {

KeychainHelper::KeychainHelper(SecretStore& store) : m_store(store), m_serviceName(bundleIdentifier()) {}

bool KeychainHelper::save(const QString& key, const QString& value) {
    // A string with unpaired surrogates has no faithful UTF-8 form.
    QStringEncoder encoder(QStringEncoder::Utf8);
    const QByteArray bytes = encoder(value);
    if (encoder.hasError())
        return false;
    deleteItem(key);
    const SecretResult result = m_store.store(m_serviceName, key, bytes);
    if (!result.ok()) {
        logLine(lcBackend(), QStringLiteral("KeychainHelper"),
                QStringLiteral("Error saving item - %1").arg(result.code != 0 ? result.code : -1));
        return false;
    }
    return true;
}

KeychainHelper::Read KeychainHelper::read(const QString& key) {
    const SecretResult result = m_store.lookup(m_serviceName, key);
    if (result.status == SecretResult::Status::notFound)
        return {Read::Status::absent, {}, {}};
    if (!result.ok())
        return {Read::Status::failed, {}, result.message};
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString value = decoder(result.value);
    // Not ours: every item this program writes is UTF-8.
    if (decoder.hasError())
        return {Read::Status::absent, {}, {}};
    return {Read::Status::found, value, {}};
}

std::optional<QString> KeychainHelper::load(const QString& key) {
    Read result = read(key);
    if (result.status != Read::Status::found)
        return std::nullopt;
    return std::move(result.value);
}

bool KeychainHelper::deleteItem(const QString& key) {
    const SecretResult result = m_store.clear(m_serviceName, key);
    return result.ok() || result.status == SecretResult::Status::notFound;
}

} // namespace quill
