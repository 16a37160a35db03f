#pragma once

#include <QObject>
#include <QString>
#include <memory>

namespace quill {

class AuthService;
class PreferencesManager;
class PreferencesView;
class ShortcutConfiguration;

// The one preferences window: made on first use, brought forward on every later call. Closing
// it only hides it, so it comes back as the user left it.
class PreferencesWindowController : public QObject {
    Q_OBJECT
public:
    static QString windowTitle() { return tr("Quillpoint Preferences"); }
    static constexpr int contentWidth = 420;
    static constexpr int contentHeight = 280;

    PreferencesWindowController(ShortcutConfiguration& shortcutConfig, PreferencesManager& preferencesManager,
                                AuthService& authService, QObject* parent = nullptr);
    ~PreferencesWindowController() override;

    void showPreferences();
    // None until the first showPreferences.
    PreferencesView* window() const { return m_window.get(); }

signals:
    void shortcutRecordingChanged(bool recording);

private:
    ShortcutConfiguration& m_shortcutConfig;
    PreferencesManager& m_preferencesManager;
    AuthService& m_authService;
    std::unique_ptr<PreferencesView> m_window;
};

} // namespace quill
