#pragma once

#include "shortcuts/Shortcut.h"

#include <QWidget>
#include <optional>

class QTabWidget;

namespace quill {

class ActionStore;
class AudioInputList;
class AuthService;
class GeneralPreferencesView;
class ModelCatalog;
class HistorySettings;
class PreferencesManager;
class ShortcutConfiguration;
class ShortcutNames;

// The content of the preferences window: the General, Account, Transcription and History tabs,
// and the Actions tab when there is an action store.
class PreferencesView : public QWidget {
    Q_OBJECT
public:
    PreferencesView(ShortcutConfiguration& shortcutConfig, const ShortcutNames& shortcutNames,
                    PreferencesManager& preferencesManager, AuthService& authService,
                    AudioInputList& audioInputs, ModelCatalog& models, HistorySettings& history,
                    QWidget* parent = nullptr, ActionStore* actions = nullptr);

    QTabWidget* tabs() const { return m_tabs; }
    void setShortcutProblem(ShortcutAction action, const std::optional<QString>& problem);

signals:
    // True while a shortcut is being recorded; the global shortcuts must not fire meanwhile.
    void shortcutRecordingChanged(bool recording);

private:
    QTabWidget* m_tabs;
    GeneralPreferencesView* m_general;
};

} // namespace quill
