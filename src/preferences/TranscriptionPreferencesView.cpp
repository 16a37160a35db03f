#include "TranscriptionPreferencesView.h"

#include "PreferencesManager.h"
#include "PreferencesSections.h"
#include "TranscriptionLanguages.h"
#include "platform/AudioInputList.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

namespace quill {
namespace {

QLabel* hint(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setForegroundRole(QPalette::PlaceholderText);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    return label;
}

} // namespace

TranscriptionPreferencesView::TranscriptionPreferencesView(PreferencesManager& preferencesManager,
                                                           AudioInputList& inputs, QWidget* parent)
    : QWidget(parent)
    , m_preferencesManager(preferencesManager)
    , m_inputs(inputs) {
    QVBoxLayout* sections = addScrollingSections(this);
    sections->addWidget(buildRecordingSection(sections->parentWidget()));
    sections->addWidget(buildVocabularySection(sections->parentWidget()));
    sections->addWidget(buildClipboardSection(sections->parentWidget()));
    sections->addStretch();

    connect(&m_inputs, &AudioInputList::changed, this, &TranscriptionPreferencesView::showMicrophones);
    connect(&m_preferencesManager, &PreferencesManager::microphoneChanged, this,
            &TranscriptionPreferencesView::showMicrophones);
    connect(&m_preferencesManager, &PreferencesManager::transcriptionLanguageChanged, this,
            &TranscriptionPreferencesView::showLanguage);
    connect(&m_preferencesManager, &PreferencesManager::holdToTalkChanged, this, [this](bool enabled) {
        const QSignalBlocker blocker(m_holdToTalk);
        m_holdToTalk->setChecked(enabled);
    });
    connect(&m_preferencesManager, &PreferencesManager::transcriptionVocabularyChanged, this,
            [this](const QString& words) {
                // Only a change made elsewhere replaces the text: the user's own typing, trailing
                // space included, stays as typed.
                if (PreferencesManager::boundedVocabulary(m_vocabulary->toPlainText()) != words) {
                    const QSignalBlocker blocker(m_vocabulary);
                    m_vocabulary->setPlainText(words);
                    m_vocabularyLimit->setVisible(false);
                }
            });
    connect(&m_preferencesManager, &PreferencesManager::keepClipboardChanged, this, [this](bool enabled) {
        const QSignalBlocker blocker(m_keepClipboard);
        m_keepClipboard->setChecked(enabled);
    });
    m_inputs.watch();
}

QWidget* TranscriptionPreferencesView::buildRecordingSection(QWidget* parent) {
    auto* section = new QGroupBox(tr("Recording"), parent);
    auto* form = new QFormLayout(section);
    form->setContentsMargins(preferencesSectionMargins);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    m_holdToTalk = new QCheckBox(tr("Hold to talk"), section);
    m_holdToTalk->setObjectName(QStringLiteral("holdToTalk"));
    m_holdToTalk->setChecked(m_preferencesManager.holdToTalk());
    connect(m_holdToTalk, &QCheckBox::toggled, &m_preferencesManager, &PreferencesManager::setHoldToTalk);
    form->addRow(m_holdToTalk);
    if (m_preferencesManager.keyReleaseReported()) {
        form->addRow(hint(tr("Hold the Transcribe shortcut while you speak; letting go transcribes. "
                             "A short press starts and stops as before."),
                          section));
    } else {
        // Shown off without storing it: the choice stays for a desktop that reports releases.
        const QSignalBlocker blocker(m_holdToTalk);
        m_holdToTalk->setEnabled(false);
        m_holdToTalk->setChecked(false);
        auto* unavailable = hint(tr("Not available on this desktop: its shortcuts report no key release. "
                                    "Press the Transcribe shortcut once to start and once to stop."),
                                 section);
        unavailable->setObjectName(QStringLiteral("holdToTalkUnavailable"));
        form->addRow(unavailable);
    }

    m_microphone = new QComboBox(section);
    m_microphone->setObjectName(QStringLiteral("microphone"));
    showMicrophones();
    connect(m_microphone, &QComboBox::activated, this, [this](int index) {
        m_preferencesManager.setMicrophone(m_microphone->itemData(index).toString());
    });
    form->addRow(tr("Microphone"), m_microphone);

    m_language = new QComboBox(section);
    m_language->setObjectName(QStringLiteral("language"));
    m_language->addItem(tr("Detect automatically"), QString());
    for (const LanguageChoice& language : transcriptionLanguages())
        m_language->addItem(language.name, language.code);
    showLanguage(m_preferencesManager.transcriptionLanguage());
    connect(m_language, &QComboBox::activated, this, [this](int index) {
        m_preferencesManager.setTranscriptionLanguage(m_language->itemData(index).toString());
    });
    form->addRow(tr("Language"), m_language);
    return section;
}

QWidget* TranscriptionPreferencesView::buildVocabularySection(QWidget* parent) {
    auto* section = new QGroupBox(tr("Words to recognise"), parent);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(preferencesSectionMargins);
    m_vocabulary = new QPlainTextEdit(section);
    m_vocabulary->setObjectName(QStringLiteral("vocabulary"));
    m_vocabulary->setAccessibleName(tr("Words to recognise"));
    m_vocabulary->setPlaceholderText(tr("Names and jargon, separated by commas"));
    m_vocabulary->setTabChangesFocus(true);
    m_vocabulary->setFixedHeight(m_vocabulary->fontMetrics().lineSpacing() * 3 + 12);
    m_vocabulary->setPlainText(m_preferencesManager.transcriptionVocabulary());
    connect(m_vocabulary, &QPlainTextEdit::textChanged, this,
            &TranscriptionPreferencesView::vocabularyEdited);
    layout->addWidget(m_vocabulary);
    m_vocabularyLimit = new QLabel(section);
    m_vocabularyLimit->setObjectName(QStringLiteral("vocabularyLimit"));
    m_vocabularyLimit->setWordWrap(true);
    m_vocabularyLimit->setVisible(false);
    layout->addWidget(m_vocabularyLimit);
    layout->addWidget(
        hint(tr("Sent with each recording so that the transcript spells them right."), section));
    return section;
}

void TranscriptionPreferencesView::vocabularyEdited() {
    const QString text = m_vocabulary->toPlainText();
    const bool tooLong = text.size() > PreferencesManager::maxVocabularyLength;
    m_vocabularyLimit->setText(
        tooLong ? tr("Only the first %L1 characters are kept; shorten the list to keep what matters most.")
                      .arg(PreferencesManager::maxVocabularyLength)
                : QString());
    m_vocabularyLimit->setVisible(tooLong);
    m_preferencesManager.setTranscriptionVocabulary(text);
}

QWidget* TranscriptionPreferencesView::buildClipboardSection(QWidget* parent) {
    auto* section = new QGroupBox(tr("Clipboard"), parent);
    auto* layout = new QVBoxLayout(section);
    layout->setContentsMargins(preferencesSectionMargins);
    m_keepClipboard = new QCheckBox(tr("Keep my clipboard"), section);
    m_keepClipboard->setObjectName(QStringLiteral("keepClipboard"));
    m_keepClipboard->setChecked(m_preferencesManager.keepClipboard());
    connect(m_keepClipboard, &QCheckBox::toggled, &m_preferencesManager,
            &PreferencesManager::setKeepClipboard);
    layout->addWidget(m_keepClipboard);
    layout->addWidget(
        hint(tr("Puts back what you had copied once the transcript has been pasted."), section));
    return section;
}

void TranscriptionPreferencesView::showMicrophones() {
    const QString chosen = m_preferencesManager.microphone();
    const QSignalBlocker blocker(m_microphone);
    m_microphone->clear();
    m_microphone->addItem(tr("System default"), QString());
    bool chosenListed = chosen.isEmpty();
    for (const AudioInput& input : m_inputs.inputs()) {
        m_microphone->addItem(input.description, input.name);
        chosenListed = chosenListed || input.name == chosen;
    }
    // A microphone that is unplugged now stays the choice, for when it comes back.
    if (!chosenListed)
        m_microphone->addItem(tr("%1 (not connected)").arg(chosen), chosen);
    m_microphone->setCurrentIndex(std::max(0, m_microphone->findData(chosen)));
}

void TranscriptionPreferencesView::showLanguage(const QString& code) {
    const QSignalBlocker blocker(m_language);
    const int index = m_language->findData(code);
    m_language->setCurrentIndex(index < 0 ? 0 : index);
}

} // namespace quill
