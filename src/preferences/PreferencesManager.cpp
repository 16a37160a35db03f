#include "PreferencesManager.h"

#include "platform/AutostartRegistrar.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"

namespace quill {
namespace {
const QString launchAtLoginKey = QStringLiteral("launchAtLogin");
const QString selectedModelKey = QStringLiteral("selectedModel");
const QString holdToTalkKey = QStringLiteral("transcriptionHoldToTalk");
const QString microphoneKey = QStringLiteral("transcriptionMicrophone");
const QString languageKey = QStringLiteral("transcriptionLanguage");
const QString keepClipboardKey = QStringLiteral("transcriptionKeepClipboard");
const QString vocabularyKey = QStringLiteral("transcriptionVocabulary");

// Only two lower-case letters can be a language code; anything else stored reads as automatic
// detection rather than a request the backend refuses.
QString validLanguage(const QString& code) {
    const bool valid = code.size() == 2 && code.at(0).isLower() && code.at(1).isLower() &&
                       code.at(0).unicode() < 128 && code.at(1).unicode() < 128;
    return valid ? code : QString();
}
} // namespace

PreferencesManager::PreferencesManager(SettingsStore& settings, AutostartRegistrar& autostart,
                                       QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_autostart(autostart) {
    // The entry, not the stored choice, says whether the program starts at login: the user may
    // have removed it or switched it off with another tool since.
    m_launchAtLogin = m_autostart.isEnabled();
    const auto model = m_settings.value(selectedModelKey);
    m_hasChosenModel = model && !model->toString().isEmpty();
    m_selectedModel = m_hasChosenModel ? model->toString() : defaultModel();
    m_holdToTalk = m_settings.value(holdToTalkKey).value_or(false).toBool();
    m_microphone = m_settings.value(microphoneKey).value_or(QString()).toString();
    m_transcriptionLanguage = validLanguage(m_settings.value(languageKey).value_or(QString()).toString());
    m_keepClipboard = m_settings.value(keepClipboardKey).value_or(false).toBool();
    m_vocabulary = boundedVocabulary(m_settings.value(vocabularyKey).value_or(QString()).toString());
}

void PreferencesManager::setLaunchAtLogin(bool enabled) {
    m_launchAtLogin = enabled;
    emit launchAtLoginChanged(enabled);
    m_settings.setValue(launchAtLoginKey, enabled);
    QString error;
    if (!m_autostart.setEnabled(enabled, &error))
        logLine(lcPreferences(), QStringLiteral("PreferencesManager"),
                QStringLiteral("Could not update the login item: ") + error);
}

void PreferencesManager::setSelectedModel(const QString& identifier) {
    m_selectedModel = identifier;
    m_hasChosenModel = true;
    emit selectedModelChanged(identifier);
    m_settings.setValue(selectedModelKey, identifier);
}

void PreferencesManager::setHoldToTalk(bool enabled) {
    m_holdToTalk = enabled;
    emit holdToTalkChanged(enabled);
    m_settings.setValue(holdToTalkKey, enabled);
}

void PreferencesManager::setMicrophone(const QString& input) {
    m_microphone = input;
    emit microphoneChanged(input);
    m_settings.setValue(microphoneKey, input);
}

void PreferencesManager::setTranscriptionLanguage(const QString& code) {
    m_transcriptionLanguage = validLanguage(code);
    emit transcriptionLanguageChanged(m_transcriptionLanguage);
    m_settings.setValue(languageKey, m_transcriptionLanguage);
}

void PreferencesManager::setKeepClipboard(bool enabled) {
    m_keepClipboard = enabled;
    emit keepClipboardChanged(enabled);
    m_settings.setValue(keepClipboardKey, enabled);
}

void PreferencesManager::setTranscriptionVocabulary(const QString& words) {
    const QString bounded = boundedVocabulary(words);
    if (bounded == m_vocabulary)
        return;
    m_vocabulary = bounded;
    emit transcriptionVocabularyChanged(m_vocabulary);
    m_settings.setValue(vocabularyKey, m_vocabulary);
}

QString PreferencesManager::boundedVocabulary(const QString& words) {
    QString text = words;
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control && c != u'\n' && c != u'\t')
            c = u' ';
    }
    text = text.trimmed();
    if (text.size() > maxVocabularyLength) {
        qsizetype end = maxVocabularyLength;
        if (text.at(end - 1).isHighSurrogate())
            --end;
        text = text.left(end).trimmed();
    }
    return text;
}

void PreferencesManager::setShortcutHost(bool reportsRelease, const QString& settingsNote) {
    m_keyReleaseReported = reportsRelease;
    m_shortcutSettingsNote = settingsNote;
}

} // namespace quill
