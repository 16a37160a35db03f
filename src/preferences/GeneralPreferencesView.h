#pragma once

#include "shortcuts/Shortcut.h"

#include <QWidget>
#include <map>
#include <optional>

class QButtonGroup;
class QCheckBox;

namespace quill {

class PreferencesManager;
class ShortcutConfiguration;
class ShortcutNames;
class ShortcutRecorderView;

// Shortcuts, start at login and the AI model. Every change is written to its store at once.
class GeneralPreferencesView : public QWidget {
    Q_OBJECT
public:
    GeneralPreferencesView(ShortcutConfiguration& shortcutConfig, const ShortcutNames& shortcutNames,
                           PreferencesManager& preferencesManager, QWidget* parent = nullptr);

    // Shows under the action's recorder why its shortcut does not work; none clears it.
    void setShortcutProblem(ShortcutAction action, const std::optional<QString>& problem);

signals:
    // True while any of the recorders is recording.
    void shortcutRecordingChanged(bool recording);

private:
    QWidget* buildShortcutsSection(QWidget* parent);
    QWidget* buildStartupSection(QWidget* parent);
    QWidget* buildModelSection(QWidget* parent);
    void showLaunchAtLogin(bool enabled);
    void showSelectedModel(const QString& identifier);
    void recorderRecordingChanged(bool recording);

    ShortcutConfiguration& m_shortcutConfig;
    const ShortcutNames& m_shortcutNames;
    PreferencesManager& m_preferencesManager;
    std::map<ShortcutAction, ShortcutRecorderView*> m_recorders;
    int m_recordingCount = 0;
    QCheckBox* m_launchAtLogin = nullptr;
    QButtonGroup* m_models = nullptr;
};

} // namespace quill
