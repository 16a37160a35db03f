#include "UpdateService.h"

#include "platform/Log.h"
#include "platform/SettingsStore.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

namespace quill {
namespace {
const QString logTag = QStringLiteral("UpdateService");
}

QUrl UpdateService::builtInFeedUrl() {
    return QUrl(QStringLiteral(QUILLPOINT_UPDATE_FEED_URL));
}

QUrl UpdateService::feedUrl(const SettingsStore& settings) {
    const QString override = settings.value(feedUrlOverrideKey).value_or(QString()).toString().trimmed();
    return override.isEmpty() ? builtInFeedUrl() : QUrl(override);
}

UpdateService::UpdateService(QNetworkAccessManager& network, QUrl feedUrl, QString currentVersion,
                             std::chrono::milliseconds timeout, QObject* parent)
    : QObject(parent)
    , m_feedUrl(std::move(feedUrl))
    , m_currentVersion(std::move(currentVersion))
    , m_checker(network, timeout) {
    connect(&m_checker, &UpdateChecker::finished, this, &UpdateService::showResult);
    connect(&m_dialog, &UpdateDialog::checkCancelled, &m_checker, &UpdateChecker::cancel);
}

void UpdateService::checkForUpdates() {
    if (!m_dialog.isChecking()) {
        logLine(lcPreferences(), logTag, QStringLiteral("Checking ") + m_feedUrl.toString());
        m_dialog.showChecking();
        m_checker.check(m_feedUrl, m_currentVersion);
    }
    m_dialog.show();
    m_dialog.raise();
    m_dialog.activateWindow();
}

void UpdateService::showResult(const UpdateCheckResult& result) {
    switch (result.status) {
    case UpdateCheckResult::Status::upToDate:
        logLine(lcPreferences(), logTag, QStringLiteral("Up to date at ") + result.currentVersion);
        break;
    case UpdateCheckResult::Status::updateAvailable:
        logLine(lcPreferences(), logTag, QStringLiteral("Version %1 is available").arg(result.latestVersion));
        break;
    case UpdateCheckResult::Status::failed:
        logLine(lcPreferences(), logTag, QStringLiteral("Check failed: ") + result.error);
        break;
    }
    m_dialog.showResult(result);
    emit checkFinished(result);
}

} // namespace quill
