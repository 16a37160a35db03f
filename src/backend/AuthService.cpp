#include "AuthService.h"

#include "platform/HostInfo.h"
#include "platform/Log.h"

#include <QTimer>
#include <QUuid>

namespace quill {

AuthService::AuthService(KeychainHelper keychain, const HostInfo& host, int recheckDelayMs, QObject* parent)
    : QObject(parent)
    , m_keychain(std::move(keychain))
    , m_host(host)
    , m_recheckDelayMs(recheckDelayMs) {
    checkAuthentication();
}

QString AuthService::makeDeviceToken(const QString& hostName) {
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    return QStringLiteral("device-") + hostName + u'-' + uuid.left(8);
}

void AuthService::setState(bool authenticated, std::optional<QString> identifier) {
    const bool authChanged = authenticated != m_isAuthenticated;
    const bool idChanged = identifier != m_userIdentifier;
    m_isAuthenticated = authenticated;
    m_userIdentifier = std::move(identifier);
    if (idChanged)
        emit userIdentifierChanged();
    if (authChanged)
        emit isAuthenticatedChanged(authenticated);
}

void AuthService::checkAuthentication() {
    if (const auto token = m_keychain.load(tokenKey)) {
        setState(true, *token);
        logLine(lcBackend(), QStringLiteral("AuthService"), QStringLiteral("Using existing device token"));
        return;
    }
    QString deviceToken;
    if (const auto stored = m_keychain.load(deviceTokenKey)) {
        deviceToken = *stored;
    } else {
        deviceToken = makeDeviceToken(m_host.hostName());
        m_keychain.save(deviceTokenKey, deviceToken);
    }
    m_keychain.save(tokenKey, deviceToken);
    setState(true, deviceToken);
    logLine(lcBackend(), QStringLiteral("AuthService"),
            QStringLiteral("Auto-authenticated as ") + deviceToken);
}

void AuthService::signOut() {
    m_keychain.deleteItem(tokenKey);
    setState(false, std::nullopt);
    QTimer::singleShot(m_recheckDelayMs, this, &AuthService::checkAuthentication);
}

} // namespace quill
