#pragma once

#include "shortcuts/Shortcut.h"

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <optional>

namespace quill {

class ActionStore;
class AudioInputList;
class AuthService;
class ModelCatalog;
class HistorySettings;
class PreferencesManager;
class PreferencesView;
class ShortcutConfiguration;
class ShortcutNames;

// The one preferences window: made on first use, brought forward on every later call. Closing
// it only hides it, so it comes back as the user left it.
class PreferencesWindowController : public QObject {
    Q_OBJECT
public:
    static QString windowTitle() { return tr("Quillpoint Preferences"); }
    static constexpr int contentWidth = 420;
    static constexpr int contentHeight = 280;

    PreferencesWindowController(ShortcutConfiguration& shortcutConfig, const ShortcutNames& shortcutNames,
                                PreferencesManager& preferencesManager, AuthService& authService,
                                AudioInputList& audioInputs, ModelCatalog& models, HistorySettings& history,
                                QObject* parent = nullptr, ActionStore* actions = nullptr);
    ~PreferencesWindowController() override;

    void showPreferences();
    // None until the first showPreferences.
    PreferencesView* window() const { return m_window.get(); }
    // Why an action's shortcut does not work, shown under its recorder now or once the window
    // exists; none when it works.
    void setShortcutProblem(ShortcutAction action, const std::optional<QString>& problem);

signals:
    void shortcutRecordingChanged(bool recording);

private:
    ShortcutConfiguration& m_shortcutConfig;
    const ShortcutNames& m_shortcutNames;
    PreferencesManager& m_preferencesManager;
    AuthService& m_authService;
    AudioInputList& m_audioInputs;
    ModelCatalog& m_models;
    HistorySettings& m_history;
    ActionStore* m_actions;
    std::unique_ptr<PreferencesView> m_window;
    std::map<ShortcutAction, QString> m_shortcutProblems;
};

} // namespace quill
