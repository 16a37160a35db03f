#include "AuthService.h"

#include "KeychainQueue.h"
#include "platform/HostInfo.h"
#include "platform/Log.h"
#include "platform/SecretStore.h"

#include <QPointer>
#include <QTimer>
#include <QUuid>
#include <future>

namespace quill {

AuthService::AuthService(const KeychainHelper& keychain, const HostInfo& host, int recheckDelayMs,
                         QObject* parent)
    : QObject(parent)
    , m_host(host)
    , m_store(keychain.store())
    , m_recheckDelayMs(recheckDelayMs)
    , m_queue(std::make_unique<KeychainQueue>(keychain.store())) {
    m_store.watchUnlock([self = QPointer(this)] {
        if (self && self->m_waitingForUnlock)
            self->checkAuthentication();
    });
    startCheck(startupWaitMs);
}

AuthService::~AuthService() = default;

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

AuthService::Outcome AuthService::signIn(KeychainHelper& keychain, const QString& hostName) {
    const KeychainHelper::Read bearer = keychain.read(tokenKey);
    if (bearer.status == KeychainHelper::Read::Status::found)
        return {Outcome::Kind::existing, bearer.value, {}};
    if (bearer.status == KeychainHelper::Read::Status::failed)
        return {Outcome::Kind::failed, {}, bearer.problem};
    const KeychainHelper::Read device = keychain.read(deviceTokenKey);
    // Only a keyring that answered "no such item" may get a new identity: one that could not be
    // read may hold the identity the backend knows this machine by.
    if (device.status == KeychainHelper::Read::Status::failed)
        return {Outcome::Kind::failed, {}, device.problem};
    QString deviceToken = device.value;
    if (device.status == KeychainHelper::Read::Status::absent) {
        deviceToken = makeDeviceToken(hostName);
        keychain.save(deviceTokenKey, deviceToken);
    }
    keychain.save(tokenKey, deviceToken);
    return {Outcome::Kind::created, deviceToken, {}};
}

void AuthService::checkAuthentication() {
    if (m_checking)
        return;
    startCheck(0);
}

void AuthService::startCheck(int waitMs) {
    const int check = ++m_lastCheck;
    m_checking = check;
    m_waitingForUnlock = false;
    auto answer = std::make_shared<std::promise<Outcome>>();
    std::future<Outcome> answered = answer->get_future();
    m_queue->post(
        [this, check, answer,
         hostName = m_host.hostName()](KeychainHelper& keychain) -> KeychainQueue::Delivery {
            const Outcome outcome = signIn(keychain, hostName);
            answer->set_value(outcome);
            return [this, check, outcome] { finishCheck(check, outcome); };
        },
        this);
    if (waitMs > 0 && answered.wait_for(std::chrono::milliseconds(waitMs)) == std::future_status::ready)
        finishCheck(check, answered.get());
}

void AuthService::finishCheck(int check, const Outcome& outcome) {
    // The delivered copy of an answer taken at creation, or the answer of a check sign-out voided.
    if (check != m_checking)
        return;
    m_checking = 0;
    switch (outcome.kind) {
    case Outcome::Kind::existing:
        setState(true, outcome.token);
        logLine(lcBackend(), QStringLiteral("AuthService"), QStringLiteral("Using existing device token"));
        break;
    case Outcome::Kind::created:
        setState(true, outcome.token);
        logLine(lcBackend(), QStringLiteral("AuthService"),
                QStringLiteral("Auto-authenticated as ") + outcome.token);
        break;
    case Outcome::Kind::failed:
        m_waitingForUnlock = true;
        logLine(lcBackend(), QStringLiteral("AuthService"),
                QStringLiteral("Cannot read the keyring (%1); signing in once it is unlocked")
                    .arg(outcome.problem.isEmpty() ? QStringLiteral("no answer") : outcome.problem));
        break;
    }
    emit checkFinished();
}

void AuthService::signOut() {
    // A check still waiting read the keyring before this; its answer no longer counts.
    m_checking = 0;
    m_queue->post(
        [](KeychainHelper& keychain) -> KeychainQueue::Delivery {
            keychain.deleteItem(tokenKey);
            return {};
        },
        this);
    setState(false, std::nullopt);
    QTimer::singleShot(m_recheckDelayMs, this, &AuthService::checkAuthentication);
}

} // namespace quill
