#pragma once

#include "PortalReply.h"
#include "PortalSession.h"
#include "platform/KeyEventPoster.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace quill {

class SettingsStore;

// Key presses through the RemoteDesktop portal's keyboard (Wayland): a session with the keyboard
// alone, started once; the desktop may ask the user to allow it. Where the portal can keep that
// consent (interface version 2 and later) its restore token is stored in the settings, so the
// next run starts without asking again.
//
// The session starts on construction, in the background, or with the first use where the
// options say so. A key posted before it has started is sent once it has; of several such keys
// only the last is kept, since a paste asked for long ago is worse than none.
//
// Key events go out one at a time, each after the portal has answered the one before: the
// portal handles calls on threads of its own, and two in flight may reach the desktop swapped
// (Ctrl released before V is pressed types a bare "v" into the user's document).
class PortalKeyEventPoster final : public QObject, public KeyEventPoster {
    Q_OBJECT
public:
    static inline const QString restoreTokenKey = QStringLiteral("remoteDesktopRestoreToken");

    struct Options {
        // Covers a consent dialog that the user has to read first.
        std::chrono::milliseconds timeout{std::chrono::minutes(2)};
        // Where the desktop asks the user in every session, asking at start-up, before the user
        // has done anything that needs the keyboard, makes no sense: the session then starts
        // with the first key or prepare().
        bool startOnFirstUse = false;
    };

    PortalKeyEventPoster(QDBusConnection bus, SettingsStore& settings);
    PortalKeyEventPoster(QDBusConnection bus, SettingsStore& settings, Options options);
    ~PortalKeyEventPoster() override;

    // False once the portal or the user has refused the keyboard; true while it may still come.
    bool isAvailable() const override;
    Qt::KeyboardModifiers heldModifiers() override;
    bool isKeyHeld() override;
    void postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) override;
    bool isReady() const override { return m_state == State::started; }
    void prepare(QObject* context, const std::function<void(bool ready)>& done) override;

    bool isStarted() const { return m_state == State::started; }

signals:
    // The session has started or has been refused; isStarted() tells which.
    void sessionSettled();

private:
    enum class State { idle, connecting, started, refused };
    void begin();
    void connectSession(uint version);
    void selectDevices();
    void start();
    void fail(const QString& step, const PortalReply& reply);
    void send(uint32_t keysym, bool pressed);
    void sendNextKeyEvent();
    void sendKey(Qt::Key key, Qt::KeyboardModifiers modifiers);

    QDBusConnection m_bus;
    SettingsStore& m_settings;
    Options m_options;
    State m_state = State::idle;
    std::vector<std::pair<QPointer<QObject>, std::function<void(bool)>>> m_waiting;
    uint m_version = 0;
    std::unique_ptr<PortalSession> m_session;
    std::optional<std::pair<Qt::Key, Qt::KeyboardModifiers>> m_pending;
    struct KeyEvent {
        uint32_t keysym;
        bool pressed;
    };
    std::deque<KeyEvent> m_keyEvents;
    bool m_keyEventInFlight = false;
};

} // namespace quill
