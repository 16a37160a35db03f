#pragma once

#include <QWidget>

class QCheckBox;
class QSpinBox;

namespace quill {

class HistorySettings;

// Whether results are kept in the history, and for how many days and entries. Every change is
// written at once.
class HistoryPreferencesView : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPreferencesView(HistorySettings& settings, QWidget* parent = nullptr);

private:
    void showRetention();

    HistorySettings& m_settings;
    QCheckBox* m_enabled;
    QSpinBox* m_days;
    QSpinBox* m_entries;
};

} // namespace quill
