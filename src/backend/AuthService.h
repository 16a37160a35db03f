#pragma once

#include "KeychainHelper.h"

#include <QObject>
#include <QString>
#include <memory>
#include <optional>

namespace quill {

class HostInfo;
class KeychainQueue;

// Local, automatic sign-in: a device token made once per machine and user, kept in the keyring
// and sent as the bearer token. Creating the service signs in.
//
// The keyring is read and written on a thread of its own. Creation waits a moment for the first
// answer, so that an unlocked keyring has signed in by the time the creator gets the service; a
// keyring that is slow or waits for the user to unlock it answers later, through the event
// loop. A keyring that cannot be read leaves the service signed out and the stored identity
// untouched; it is read again once the user unlocks it.
class AuthService : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY isAuthenticatedChanged)
public:
    static inline const QString tokenKey = QStringLiteral("quillpoint_auth_token");
    static inline const QString deviceTokenKey = QStringLiteral("quillpoint_device_id");
    static constexpr int startupWaitMs = 1000;

    AuthService(const KeychainHelper& keychain, const HostInfo& host, int recheckDelayMs = 500,
                QObject* parent = nullptr);
    ~AuthService() override;

    bool isAuthenticated() const { return m_isAuthenticated; }
    std::optional<QString> userIdentifier() const { return m_userIdentifier; }
    // The identity is the token sent to the backend. Kept here once the keyring has answered, so
    // that no request waits for the keyring.
    std::optional<QString> bearerToken() const { return m_userIdentifier; }
    // True while a check waits for the keyring.
    bool isChecking() const { return m_checking != 0; }

    // Makes sure a bearer token exists; the answer comes later unless the keyring answers at once.
    // A check already waiting for the keyring is not started twice.
    void checkAuthentication();
    void signOut();

    static QString makeDeviceToken(const QString& hostName);

signals:
    void isAuthenticatedChanged(bool isAuthenticated);
    void userIdentifierChanged();
    // A check ended, signed in or not.
    void checkFinished();

private:
    struct Outcome {
        enum class Kind { existing, created, failed };
        Kind kind = Kind::failed;
        QString token;
        QString problem;
    };
    static Outcome signIn(KeychainHelper& keychain, const QString& hostName);
    void startCheck(int waitMs);
    void finishCheck(int check, const Outcome& outcome);
    void setState(bool authenticated, std::optional<QString> identifier);

    const HostInfo& m_host;
    SecretStore& m_store;
    int m_recheckDelayMs;
    bool m_isAuthenticated = false;
    std::optional<QString> m_userIdentifier;
    int m_checking = 0; // the number of the check waiting for the keyring; 0 for none
    int m_lastCheck = 0;
    bool m_waitingForUnlock = false;
    // Last: once it is gone the keyring thread delivers nothing to this object.
    std::unique_ptr<KeychainQueue> m_queue;
};

} // namespace quill
