#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QPlainTextEdit;

namespace quill {

class AudioInputList;
class PreferencesManager;

// How dictation works: hold to talk, the microphone, the spoken language, the words to
// recognise and whether the clipboard is kept. Every change is written to the preferences at once.
class TranscriptionPreferencesView : public QWidget {
    Q_OBJECT
public:
    TranscriptionPreferencesView(PreferencesManager& preferencesManager, AudioInputList& inputs,
                                 QWidget* parent = nullptr);

private:
    QWidget* buildRecordingSection(QWidget* parent);
    QWidget* buildVocabularySection(QWidget* parent);
    QWidget* buildClipboardSection(QWidget* parent);
    void vocabularyEdited();
    void showMicrophones();
    void showLanguage(const QString& code);

    PreferencesManager& m_preferencesManager;
    AudioInputList& m_inputs;
    QCheckBox* m_holdToTalk = nullptr;
    QComboBox* m_microphone = nullptr;
    QComboBox* m_language = nullptr;
    QPlainTextEdit* m_vocabulary = nullptr;
    QLabel* m_vocabularyLimit = nullptr;
    QCheckBox* m_keepClipboard = nullptr;
};

} // namespace quill
