#include "HistoryPreferencesView.h"

#include "PreferencesSections.h"
#include "history/HistorySettings.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quill {

HistoryPreferencesView::HistoryPreferencesView(HistorySettings& settings, QWidget* parent)
    : QWidget(parent)
    , m_settings(settings) {
    QVBoxLayout* sections = addScrollingSections(this);
    auto* section = new QGroupBox(tr("History"), sections->parentWidget());
    auto* form = new QFormLayout(section);
    form->setContentsMargins(preferencesSectionMargins);

    m_enabled = new QCheckBox(tr("Keep a history of results"), section);
    m_enabled->setObjectName(QStringLiteral("historyEnabled"));
    m_enabled->setChecked(m_settings.enabled());
    connect(m_enabled, &QCheckBox::toggled, &m_settings, &HistorySettings::setEnabled);
    form->addRow(m_enabled);

    m_days = new QSpinBox(section);
    m_days->setObjectName(QStringLiteral("historyKeepDays"));
    m_days->setRange(1, HistorySettings::maximumDays);
    m_days->setSuffix(tr(" days"));
    form->addRow(tr("Keep for"), m_days);
    m_entries = new QSpinBox(section);
    m_entries->setObjectName(QStringLiteral("historyKeepEntries"));
    m_entries->setRange(1, HistorySettings::maximumEntries);
    m_entries->setSuffix(tr(" entries"));
    form->addRow(tr("Keep at most"), m_entries);
    showRetention();
    // Each finished edit counts, not each digit typed: "30" on its way to "300" must not drop entries.
    for (QSpinBox* box : {m_days, m_entries})
        box->setKeyboardTracking(false);
    connect(m_days, &QSpinBox::valueChanged, &m_settings, &HistorySettings::setKeepDays);
    connect(m_entries, &QSpinBox::valueChanged, &m_settings, &HistorySettings::setKeepEntries);

    auto* note =
        new QLabel(tr("Explanations and transcripts are kept on this computer only. Turning the "
                      "history off keeps what is there; Clear All in the History window deletes it."),
                   section);
    note->setWordWrap(true);
    note->setForegroundRole(QPalette::PlaceholderText);
    form->addRow(note);

    sections->addWidget(section);
    sections->addStretch();

    connect(&m_settings, &HistorySettings::enabledChanged, this, [this](bool enabled) {
        const QSignalBlocker blocker(m_enabled);
        m_enabled->setChecked(enabled);
    });
    connect(&m_settings, &HistorySettings::retentionChanged, this, &HistoryPreferencesView::showRetention);
}

void HistoryPreferencesView::showRetention() {
    const HistoryRetention retention = m_settings.retention();
    const QSignalBlocker days(m_days);
    const QSignalBlocker entries(m_entries);
    m_days->setValue(retention.days);
    m_entries->setValue(retention.entries);
}

} // namespace quill
