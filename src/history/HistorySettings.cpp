#include "HistorySettings.h"

#include "platform/SettingsStore.h"

#include <algorithm>

namespace quill {
namespace {

const QString enabledKey = QStringLiteral("historyEnabled");
const QString daysKey = QStringLiteral("historyKeepDays");
const QString entriesKey = QStringLiteral("historyKeepEntries");

} // namespace

HistorySettings::HistorySettings(SettingsStore& settings, QObject* parent)
    : QObject(parent)
    , m_settings(settings) {}

bool HistorySettings::enabled() const {
    const std::optional<QVariant> value = m_settings.value(enabledKey);
    return !value || value->toBool();
}

void HistorySettings::setEnabled(bool enabled) {
    if (enabled == this->enabled())
        return;
    m_settings.setValue(enabledKey, enabled);
    emit enabledChanged(enabled);
}

// A value edited by hand into something out of range or not a number counts as the nearest
// allowed one, or the default.
int HistorySettings::bounded(const QString& key, int fallback, int maximum) const {
    const std::optional<QVariant> value = m_settings.value(key);
    bool ok = false;
    const int number = value ? value->toInt(&ok) : 0;
    return ok ? std::clamp(number, 1, maximum) : fallback;
}

HistoryRetention HistorySettings::retention() const {
    const HistoryRetention defaults;
    return {bounded(daysKey, defaults.days, maximumDays),
            bounded(entriesKey, defaults.entries, maximumEntries)};
}

void HistorySettings::setKeepDays(int days) {
    days = std::clamp(days, 1, maximumDays);
    if (days == retention().days)
        return;
    m_settings.setValue(daysKey, days);
    emit retentionChanged();
}

void HistorySettings::setKeepEntries(int entries) {
    entries = std::clamp(entries, 1, maximumEntries);
    if (entries == retention().entries)
        return;
    m_settings.setValue(entriesKey, entries);
    emit retentionChanged();
}

} // namespace quill
