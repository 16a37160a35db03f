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

std::optional<QString> KeychainHelper::load(const QString& key) {
    const SecretResult result = m_store.lookup(m_serviceName, key);
    if (!result.ok())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString value = decoder(result.value);
    if (decoder.hasError())
        return std::nullopt;
    return value;
}

bool KeychainHelper::deleteItem(const QString& key) {
    const SecretResult result = m_store.clear(m_serviceName, key);
    return result.ok() || result.status == SecretResult::Status::NotFound;
}

} // namespace quill
