#pragma once

#include "KeychainHelper.h"

#include <QObject>
#include <QString>
#include <optional>

namespace quill {

class HostInfo;

// Local, automatic sign-in: a device token made once per machine and user, kept in the keyring
// and sent as the bearer token. Creating the service signs in at once.
class AuthService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY isAuthenticatedChanged)
public:
    static inline const QString tokenKey = QStringLiteral("quillpoint_auth_token");
    static inline const QString deviceTokenKey = QStringLiteral("quillpoint_device_id");

    AuthService(KeychainHelper keychain, const HostInfo& host, int recheckDelayMs = 500,
                QObject* parent = nullptr);
    // The running program's instance, owned by its composition root (src/app/Services).
    static AuthService& shared();

    bool isAuthenticated() const { return m_isAuthenticated; }
    std::optional<QString> userIdentifier() const { return m_userIdentifier; }

    void checkAuthentication();
    void signOut();

    static QString makeDeviceToken(const QString& hostName);

signals:
    void isAuthenticatedChanged(bool isAuthenticated);
    void userIdentifierChanged();

private:
    void setState(bool authenticated, std::optional<QString> identifier);

    KeychainHelper m_keychain;
    const HostInfo& m_host;
    int m_recheckDelayMs;
    bool m_isAuthenticated = false;
    std::optional<QString> m_userIdentifier;
};

} // namespace quill
