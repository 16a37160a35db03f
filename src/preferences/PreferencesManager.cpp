#include "PreferencesManager.h"

#include "platform/AutostartRegistrar.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"

namespace quill {
namespace {
const QString launchAtLoginKey = QStringLiteral("launchAtLogin");
const QString selectedModelKey = QStringLiteral("selectedModel");
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
    m_selectedModel = model ? model->toString() : defaultModel();
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
    emit selectedModelChanged(identifier);
    m_settings.setValue(selectedModelKey, identifier);
}

} // namespace quill
