#pragma once

#include "UpdateChecker.h"
#include "UpdateDialog.h"

#include <QObject>
#include <QUrl>
#include <chrono>

class QNetworkAccessManager;

namespace quill {

class SettingsStore;

// The user-started update check: fetches the update feed (docs/update-feed.md), compares it
// with the running version and shows the outcome in its own window. Nothing checks on its own;
// the service exists from the first "Check for Updates..." on.
class UpdateService : public QObject {
    Q_OBJECT
public:
    // Settings entry that points the check at another feed, for testing a feed before release.
    static inline const QString feedUrlOverrideKey = QStringLiteral("quillpoint_update_feed_url_override");
    // The feed chosen when the program was built; packagers set it with QUILLPOINT_UPDATE_FEED_URL.
    static QUrl builtInFeedUrl();
    // The override when it is set and not empty, otherwise the built-in feed.
    static QUrl feedUrl(const SettingsStore& settings);

    UpdateService(QNetworkAccessManager& network, QUrl feedUrl, QString currentVersion,
                  std::chrono::milliseconds timeout = UpdateChecker::defaultTimeout,
                  QObject* parent = nullptr);

    // Shows the window and starts a check; while one runs, only brings the window forward.
    void checkForUpdates();

    UpdateDialog& dialog() { return m_dialog; }

signals:
    void checkFinished(const quill::UpdateCheckResult& result);

private:
    void showResult(const UpdateCheckResult& result);

    QUrl m_feedUrl;
    QString m_currentVersion;
    UpdateChecker m_checker;
    UpdateDialog m_dialog;
};

} // namespace quill
