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

// The general settings: launch at login and the AI model. Every write is saved at once.
class PreferencesManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool launchAtLogin READ launchAtLogin WRITE setLaunchAtLogin NOTIFY launchAtLoginChanged)
    Q_PROPERTY(QString selectedModel READ selectedModel WRITE setSelectedModel NOTIFY selectedModelChanged)
public:
    PreferencesManager(SettingsStore& settings, AutostartRegistrar& autostart, QObject* parent = nullptr);
    // The running program's instance, owned by its composition root (src/app/Services).
    static PreferencesManager& shared();

    bool launchAtLogin() const { return m_launchAtLogin; }
    void setLaunchAtLogin(bool enabled);
    QString selectedModel() const { return m_selectedModel; }
    void setSelectedModel(const QString& identifier);

    static QString defaultModel() { return QString::fromLatin1(availableModels.front().identifier); }

signals:
    void launchAtLoginChanged(bool enabled);
    void selectedModelChanged(const QString& identifier);

private:
    SettingsStore& m_settings;
    AutostartRegistrar& m_autostart;
    bool m_launchAtLogin = false;
    QString m_selectedModel;
};

} // namespace quill
