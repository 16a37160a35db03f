#include "UpdateFeed.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>

namespace quill {
namespace {

bool isDigits(const QString& text) {
    return !text.isEmpty() &&
           std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

// Numeric identifiers may be longer than any integer type; compare them as digit strings.
std::strong_ordering compareDigits(QString a, QString b) {
    while (a.size() > 1 && a.front() == u'0')
        a.remove(0, 1);
    while (b.size() > 1 && b.front() == u'0')
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() <=> b.size();
    return a.compare(b) <=> 0;
}

std::strong_ordering compareIdentifiers(const QString& a, const QString& b) {
    const bool aNumeric = isDigits(a);
    const bool bNumeric = isDigits(b);
    if (aNumeric && bNumeric)
        return compareDigits(a, b);
    if (aNumeric != bNumeric)
        return aNumeric ? std::strong_ordering::less : std::strong_ordering::greater;
    return a.compare(b) <=> 0;
}

QUrl usablePage(const QJsonValue& value, const QUrl& feedUrl) {
    if (!value.isString())
        return {};
    QUrl page = feedUrl.resolved(QUrl(value.toString().trimmed(), QUrl::StrictMode));
    if (!page.isValid() || page.host().isEmpty())
        return {};
    if (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http"))
        return {};
    return page;
}

} // namespace

QString SemanticVersion::toString() const {
    QString text = QStringLiteral("%1.%2.%3").arg(major).arg(minor).arg(patch);
    if (isPreRelease())
        text += u'-' + preRelease.join(u'.');
    return text;
}

std::optional<SemanticVersion> parseVersion(const QString& input) {
    QString text = input.trimmed();
    if (text.startsWith(u'v') || text.startsWith(u'V'))
        text.remove(0, 1);
    const int plus = text.indexOf(u'+');
    if (plus >= 0)
        text.truncate(plus);
    QString preRelease;
    const int dash = text.indexOf(u'-');
    if (dash >= 0) {
        preRelease = text.mid(dash + 1);
        text.truncate(dash);
        if (preRelease.isEmpty())
            return std::nullopt;
    }
    const QStringList core = text.split(u'.');
    if (core.size() > 3)
        return std::nullopt;
    SemanticVersion version;
    quint64* const fields[] = {&version.major, &version.minor, &version.patch};
    for (qsizetype i = 0; i < core.size(); ++i) {
        bool ok = false;
        *fields[i] = core[i].toULongLong(&ok);
        if (!isDigits(core[i]) || !ok)
            return std::nullopt;
    }
    if (!preRelease.isEmpty()) {
        static const QRegularExpression identifier(QStringLiteral("^[0-9A-Za-z-]+$"));
        version.preRelease = preRelease.split(u'.');
        for (const QString& part : std::as_const(version.preRelease)) {
            if (!identifier.match(part).hasMatch())
                return std::nullopt;
        }
    }
    return version;
}

std::strong_ordering compareVersions(const SemanticVersion& a, const SemanticVersion& b) {
    if (const auto order = std::tie(a.major, a.minor, a.patch) <=> std::tie(b.major, b.minor, b.patch);
        std::is_neq(order))
        return order;
    // A release ranks above its own pre-releases.
    if (a.isPreRelease() != b.isPreRelease())
        return a.isPreRelease() ? std::strong_ordering::less : std::strong_ordering::greater;
    const qsizetype shared = std::min(a.preRelease.size(), b.preRelease.size());
    for (qsizetype i = 0; i < shared; ++i) {
        if (const auto order = compareIdentifiers(a.preRelease[i], b.preRelease[i]); std::is_neq(order))
            return order;
    }
    return a.preRelease.size() <=> b.preRelease.size();
}

std::variant<UpdateFeed, UpdateFeedError> parseUpdateFeed(const QByteArray& json, const QUrl& feedUrl) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return UpdateFeedError{
            QCoreApplication::translate("quill::UpdateFeed",
                                        "The update feed is not valid JSON (%1 at offset %2).")
                .arg(parseError.errorString())
                .arg(parseError.offset)};
    }
    const QJsonValue versions = document.object().value(QStringLiteral("versions"));
    if (!document.isObject() || !versions.isArray())
        return UpdateFeedError{
            QCoreApplication::translate("quill::UpdateFeed", "The update feed has no list of versions.")};

    const QUrl feedPage = usablePage(document.object().value(QStringLiteral("downloadPage")), feedUrl);
    UpdateFeed feed;
    for (const auto& value : versions.toArray()) {
        const QJsonObject object = value.toObject();
        const auto version = parseVersion(object.value(QStringLiteral("version")).toString());
        if (!version) {
            ++feed.skippedEntries;
            continue;
        }
        const QUrl ownPage = usablePage(object.value(QStringLiteral("downloadPage")), feedUrl);
        feed.entries.push_back({*version, object.value(QStringLiteral("notes")).toString().trimmed(),
                                ownPage.isEmpty() ? feedPage : ownPage});
    }
    if (feed.entries.empty())
        return UpdateFeedError{
            QCoreApplication::translate("quill::UpdateFeed", "The update feed lists no readable version.")};
    std::stable_sort(feed.entries.begin(), feed.entries.end(), [](const auto& a, const auto& b) {
        return std::is_gt(compareVersions(a.version, b.version));
    });
    return feed;
}

UpdateCheckResult failedCheck(const QString& currentVersion, const QString& error) {
    UpdateCheckResult result;
    result.status = UpdateCheckResult::Status::failed;
    result.currentVersion = currentVersion;
    result.error = error;
    return result;
}

UpdateCheckResult evaluateUpdateFeed(const UpdateFeed& feed, const QString& currentVersion) {
    const auto current = parseVersion(currentVersion);
    if (!current) {
        return failedCheck(currentVersion,
                           QStringLiteral("This copy of Quillpoint has no comparable version (\"%1\").")
                               .arg(currentVersion));
    }
    std::vector<const UpdateFeedEntry*> newer;
    const UpdateFeedEntry* newestOffered = nullptr;
    for (const UpdateFeedEntry& entry : feed.entries) {
        if (entry.version.isPreRelease() && !current->isPreRelease())
            continue;
        if (!newestOffered)
            newestOffered = &entry;
        if (std::is_gt(compareVersions(entry.version, *current)))
            newer.push_back(&entry);
    }
    UpdateCheckResult result;
    result.currentVersion = currentVersion;
    if (newer.empty()) {
        result.status = UpdateCheckResult::Status::upToDate;
        result.latestVersion = newestOffered ? newestOffered->version.toString() : current->toString();
        return result;
    }
    const UpdateFeedEntry& latest = *newer.front();
    if (latest.downloadPage.isEmpty()) {
        return failedCheck(currentVersion,
                           QCoreApplication::translate(
                               "quill::UpdateFeed", "The update feed names no download page for version %1.")
                               .arg(latest.version.toString()));
    }
    result.status = UpdateCheckResult::Status::updateAvailable;
    result.latestVersion = latest.version.toString();
    result.downloadPage = latest.downloadPage;
    QStringList notes;
    for (const UpdateFeedEntry* entry : newer) {
        notes
            << QCoreApplication::translate("quill::UpdateFeed", "Version %1").arg(entry->version.toString()) +
                   (entry->notes.isEmpty() ? QString() : u'\n' + entry->notes);
    }
    result.notes = notes.join(QStringLiteral("\n\n"));
    return result;
}

} // namespace quill
