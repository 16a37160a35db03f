#pragma once

#include "HistoryEntry.h"

#include <QObject>

namespace quill {

class SettingsStore;

// Whether results are kept and for how long: keys historyEnabled, historyKeepDays and
// historyKeepEntries. Turning the history off keeps what is there; only Clear All deletes it.
class HistorySettings : public QObject {
    Q_OBJECT
public:
    static constexpr int maximumDays = 3650;
    static constexpr int maximumEntries = 100'000;

    explicit HistorySettings(SettingsStore& settings, QObject* parent = nullptr);

    bool enabled() const;
    void setEnabled(bool enabled);
    HistoryRetention retention() const;
    // Each is kept within 1 and its maximum.
    void setKeepDays(int days);
    void setKeepEntries(int entries);

signals:
    void enabledChanged(bool enabled);
    void retentionChanged();

private:
    int bounded(const QString& key, int fallback, int maximum) const;

    SettingsStore& m_settings;
};

} // namespace quill
