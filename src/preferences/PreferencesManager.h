#pragma once

#include <QObject>
#include <QString>
#include <array>

namespace quill {

class AutostartRegistrar;
class SettingsStore;

struct ModelChoice {
    const char* label;
    const char* identifier;
};

// The models offered to the user, in the order shown; the identifier is stored and sent.
inline constexpr std::array<ModelChoice, 2> availableModels = {{
    {"OpenAI GPT-5.2", "gpt-5.2"},
    {"xAI Grok 4", "grok-4-1-fast-non-reasoning-latest"},
}};

// The general settings (launch at login, the AI model) and how dictation works (hold to talk,
// the microphone, the spoken language, keeping the clipboard, the words to recognise). Every write is saved
// at once.
class PreferencesManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(QString selectedModel READ selectedModel WRITE setSelectedModel NOTIFY selectedModelChanged)
public:
    PreferencesManager(SettingsStore& settings, AutostartRegistrar& autostart, QObject* parent = nullptr);

    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool enabled);
    QString selectedModel() const { return m_selectedModel; }
    void setSelectedModel(const QString& identifier);
    // Whether the user ever chose a model; until then selectedModel() is the default.
    bool hasChosenModel() const { return m_hasChosenModel; }

    static QString defaultModel() { return QString::fromLatin1(availableModels.front().identifier); }

    // A press of the transcribe shortcut held for a moment records until the key is let go.
    bool holdToTalk() const { return m_holdToTalk; }
    void setHoldToTalk(bool enabled);
    // The sound server's name of the chosen input; empty for the system default.
    QString microphone() const { return m_microphone; }
    void setMicrophone(const QString& input);
    // ISO 639-1 code of the spoken language; empty to let the speech model detect it.
    QString transcriptionLanguage() const { return m_transcriptionLanguage; }
    void setTranscriptionLanguage(const QString& code);
    // Whether the clipboard's earlier content comes back once a transcript has been pasted.
    bool keepClipboard() const { return m_keepClipboard; }
    void setKeepClipboard(bool enabled);
    // Names and jargon the speech model should expect, sent with each recording. Stored as
    // boundedVocabulary() makes it.
    QString transcriptionVocabulary() const { return m_vocabulary; }
    void setTranscriptionVocabulary(const QString& words);

    static constexpr qsizetype maxVocabularyLength = 1000;
    // At most maxVocabularyLength characters (never half of one), control characters other than
    // line breaks and tabs turned into spaces, surrounding white space removed.
    static QString boundedVocabulary(const QString& words);

    // What the desktop's shortcut mechanism allows, told at start-up and never stored: whether
    // letting go of a key is reported (hold to talk needs it), and where the desktop keeps the
    // keys when it keeps them in its own settings (empty otherwise).
    void setShortcutHost(bool reportsRelease, const QString& settingsNote);
    bool keyReleaseReported() const { return m_keyReleaseReported; }
    QString shortcutSettingsNote() const { return m_shortcutSettingsNote; }

signals:
    void launchAtLoginChanged(bool enabled);
    void selectedModelChanged(const QString& identifier);
    void holdToTalkChanged(bool enabled);
    void microphoneChanged(const QString& input);
    void transcriptionLanguageChanged(const QString& code);
    void keepClipboardChanged(bool enabled);
    void transcriptionVocabularyChanged(const QString& words);

private:
    SettingsStore& m_settings;
    AutostartRegistrar& m_autostart;
    bool m_launchAtLogin = false;
    QString m_selectedModel;
    bool m_hasChosenModel = false;
    bool m_holdToTalk = false;
    QString m_microphone;
    QString m_transcriptionLanguage;
    bool m_keepClipboard = false;
    QString m_vocabulary;
    bool m_keyReleaseReported = true;
    QString m_shortcutSettingsNote;
};

} // namespace quill
