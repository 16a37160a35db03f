#pragma once

#include "shortcuts/Shortcut.h"

#include <QWidget>
#include <functional>
#include <map>
#include <optional>

class QCheckBox;
class QComboBox;
class QLabel;

namespace quill {

class ModelCatalog;
class PreferencesManager;
class ShortcutConfiguration;
class ShortcutNames;
class ShortcutRecorderView;

// Shortcuts, start at login and the AI model (from the models the backend offers). Every change
// is written to its store at once.
class GeneralPreferencesView : public QWidget {
    Q_OBJECT
public:
    GeneralPreferencesView(ShortcutConfiguration& shortcutConfig, const ShortcutNames& shortcutNames,
                           PreferencesManager& preferencesManager, ModelCatalog& models,
                           QWidget* parent = nullptr);

    // Shows under the action's recorder why its shortcut does not work; none clears it.
    void setShortcutProblem(ShortcutAction action, const std::optional<QString>& problem);
    // The name of something else that holds a shortcut (the user's actions), none when free;
    // the recorders refuse its keys as they refuse each other's.
    using ShortcutUser = std::function<std::optional<QString>(const Shortcut&)>;
    void setOtherShortcutUser(ShortcutUser user) { m_otherShortcutUser = std::move(user); }

signals:
    // True while any of the recorders is recording.
    void shortcutRecordingChanged(bool recording);

private:
    QWidget* buildShortcutsSection(QWidget* parent);
    QWidget* buildStartupSection(QWidget* parent);
    QWidget* buildModelSection(QWidget* parent);
    void showLaunchAtLogin(bool enabled);
    void showModels();
    void recorderRecordingChanged(bool recording);

    ShortcutConfiguration& m_shortcutConfig;
    const ShortcutNames& m_shortcutNames;
    PreferencesManager& m_preferencesManager;
    ModelCatalog& m_modelCatalog;
    std::map<ShortcutAction, ShortcutRecorderView*> m_recorders;
    ShortcutUser m_otherShortcutUser;
    int m_recordingCount = 0;
    QCheckBox* m_launchAtLogin = nullptr;
    QComboBox* m_models = nullptr;
    QLabel* m_modelNotice = nullptr;
};

} // namespace quill
