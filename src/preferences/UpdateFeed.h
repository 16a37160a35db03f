#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <compare>
#include <optional>
#include <variant>
#include <vector>

namespace quill {

// A semantic version ("1.4.2", "v2.0", "1.0.0-beta.2+build.7"). One or two core numbers stand
// for the missing ones as zero; build metadata is ignored, as semantic versioning says.
struct SemanticVersion {
    quint64 major = 0;
    quint64 minor = 0;
    quint64 patch = 0;
    QStringList preRelease;

    bool isPreRelease() const { return !preRelease.isEmpty(); }
    QString toString() const;
};

std::optional<SemanticVersion> parseVersion(const QString& text);
// Semantic-versioning precedence: 1.0.0-alpha < 1.0.0-alpha.1 < 1.0.0-beta < 1.0.0 < 1.0.1.
std::strong_ordering compareVersions(const SemanticVersion& a, const SemanticVersion& b);

// The update feed: a JSON document (format in docs/update-feed.md).
//   { "downloadPage": "https://…", "versions": [ { "version": "0.2.0", "notes": "…",
//     "downloadPage": "https://…" (optional, overrides the top-level one) }, … ] }
struct UpdateFeedEntry {
    SemanticVersion version;
    QString notes;
    QUrl downloadPage; // empty when neither the entry nor the feed names a usable page
};

struct UpdateFeed {
    std::vector<UpdateFeedEntry> entries; // newest first
    int skippedEntries = 0;               // entries without a readable version
};

struct UpdateFeedError {
    QString message;
};

// Parses the feed; relative download pages resolve against `feedUrl`. Only http and https
// pages are kept, because the page is handed to the desktop to open.
std::variant<UpdateFeed, UpdateFeedError> parseUpdateFeed(const QByteArray& json, const QUrl& feedUrl);

struct UpdateCheckResult {
    enum class Status { upToDate, updateAvailable, failed };
    Status status = Status::failed;
    QString currentVersion;
    QString latestVersion; // the version offered, or the newest listed one when up to date
    QString notes;         // of every newer version, newest first
    QUrl downloadPage;
    QString error; // why the check failed, in words for the user
};

UpdateCheckResult failedCheck(const QString& currentVersion, const QString& error);
// Compares the running version with the feed. Pre-releases are offered only to a running
// pre-release, so that a stable installation stays on stable versions.
UpdateCheckResult evaluateUpdateFeed(const UpdateFeed& feed, const QString& currentVersion);

} // namespace quill
