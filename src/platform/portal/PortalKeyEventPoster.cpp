#include "PortalKeyEventPoster.h"

#include "PortalKeys.h"
#include "PortalRequest.h"
#include "platform/Log.h"
#include "platform/SettingsStore.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <xkbcommon/xkbcommon.h>

namespace quill {
namespace {

const QString interfaceName = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
constexpr uint keyboardDevice = 1;
// Kept until the user revokes it in the desktop's settings.
constexpr uint persistUntilRevoked = 2;

void log(const QString& text) {
    logLine(lcCapture(), QStringLiteral("PortalKeyEventPoster"), text);
}

} // namespace

PortalKeyEventPoster::PortalKeyEventPoster(QDBusConnection bus, SettingsStore& settings)
    : PortalKeyEventPoster(std::move(bus), settings, Options{}) {}

PortalKeyEventPoster::PortalKeyEventPoster(QDBusConnection bus, SettingsStore& settings, Options options)
    : m_bus(std::move(bus))
    , m_settings(settings)
    , m_options(options) {
    connect(this, &PortalKeyEventPoster::sessionSettled, this, [this] {
        for (auto& [context, done] : std::exchange(m_waiting, {})) {
            if (context)
                done(isStarted());
        }
    });
    if (!m_options.startOnFirstUse)
        begin();
}

void PortalKeyEventPoster::begin() {
    m_state = State::connecting;
    // Restore tokens came with version 2 of the interface; version 1 (xdg-desktop-portal 1.16)
    // drops their options unread, so they are sent only where they mean something.
    auto call = QDBusMessage::createMethodCall(portal::desktopService, portal::desktopPath,
                                               QStringLiteral("org.freedesktop.DBus.Properties"),
                                               QStringLiteral("Get"));
    call.setArguments({interfaceName, QStringLiteral("version")});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, int(m_options.timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *w;
        if (reply.isError()) {
            fail(QStringLiteral("version"), {PortalReply::Status::failed, {}, reply.error().message()});
            return;
        }
        connectSession(reply.value().variant().toUInt());
    });
}

PortalKeyEventPoster::~PortalKeyEventPoster() = default;

bool PortalKeyEventPoster::isAvailable() const {
    return m_state != State::refused;
}

// Wayland tells no client what the keyboard holds. Reporting nothing held lets a paste go out
// at once instead of waiting out its whole budget for a release it cannot see; a modifier the
// user still holds then joins the posted keys, as it would with a hardware keyboard.
Qt::KeyboardModifiers PortalKeyEventPoster::heldModifiers() {
    return Qt::NoModifier;
}

// The wait for a held shortcut key exists for X11, where the grab that delivers the shortcut
// keeps the keyboard from the focused window until the key goes up. The compositor delivers a
// portal shortcut without taking the focus from the window, so there is nothing to wait for.
bool PortalKeyEventPoster::isKeyHeld() {
    return false;
}

void PortalKeyEventPoster::postKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    if (portal::keysymForKey(key) == 0)
        return;
    switch (m_state) {
    case State::started:
        sendKey(key, modifiers);
        break;
    case State::idle:
        m_pending = {key, modifiers};
        begin();
        break;
    case State::connecting:
        m_pending = {key, modifiers};
        break;
    case State::refused:
        break;
    }
}

void PortalKeyEventPoster::prepare(QObject* context, const std::function<void(bool ready)>& done) {
    switch (m_state) {
    case State::started:
    case State::refused:
        done(isStarted());
        return;
    case State::idle:
        m_waiting.emplace_back(context, done);
        begin();
        return;
    case State::connecting:
        m_waiting.emplace_back(context, done);
        return;
    }
}

void PortalKeyEventPoster::connectSession(uint version) {
    m_version = version;
    portal::callWithRequest(m_bus, interfaceName, QStringLiteral("CreateSession"), {},
                            {{QStringLiteral("session_handle_token"), portal::newToken()}}, m_options.timeout,
                            this, [this](const PortalReply& reply) {
                                if (!reply.ok())
                                    return fail(QStringLiteral("CreateSession"), reply);
                                const QVariant handle = reply.results.value(QStringLiteral("session_handle"));
                                m_session = std::make_unique<PortalSession>(
                                    m_bus, handle.canConvert<QDBusObjectPath>()
                                               ? handle.value<QDBusObjectPath>().path()
                                               : handle.toString());
                                connect(m_session.get(), &PortalSession::closed, this, [this] {
                                    fail(QStringLiteral("session"), {PortalReply::Status::ended, {}, {}});
                                });
                                selectDevices();
                            });
}

void PortalKeyEventPoster::selectDevices() {
    QVariantMap options{{QStringLiteral("types"), keyboardDevice}};
    if (m_version >= 2) {
        options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        const auto token = m_settings.value(restoreTokenKey);
        if (token && !token->toString().isEmpty())
            options.insert(QStringLiteral("restore_token"), token->toString());
    }
    portal::callWithRequest(m_bus, interfaceName, QStringLiteral("SelectDevices"),
                            {QVariant::fromValue(QDBusObjectPath(m_session->handle()))}, options,
                            m_options.timeout, this, [this](const PortalReply& reply) {
                                if (!reply.ok())
                                    return fail(QStringLiteral("SelectDevices"), reply);
                                start();
                            });
}

void PortalKeyEventPoster::start() {
    portal::callWithRequest(
        m_bus, interfaceName, QStringLiteral("Start"),
        {QVariant::fromValue(QDBusObjectPath(m_session->handle())), QString()}, {}, m_options.timeout, this,
        [this](const PortalReply& reply) {
            if (!reply.ok())
                return fail(QStringLiteral("Start"), reply);
            if (!(reply.results.value(QStringLiteral("devices")).toUInt() & keyboardDevice))
                return fail(QStringLiteral("Start"),
                            {PortalReply::Status::ended, {}, QStringLiteral("no keyboard")});
            // A token is good for one restore: the portal hands out a new one each time.
            const QString token = reply.results.value(QStringLiteral("restore_token")).toString();
            if (!token.isEmpty())
                m_settings.setValue(restoreTokenKey, token);
            m_state = State::started;
            if (const auto pending = std::exchange(m_pending, std::nullopt))
                sendKey(pending->first, pending->second);
            emit sessionSettled();
        });
}

void PortalKeyEventPoster::fail(const QString& step, const PortalReply& reply) {
    if (m_state == State::refused)
        return;
    log(QStringLiteral("no keyboard from the RemoteDesktop portal (%1: %2)").arg(step, reply.describe()));
    // A token the portal no longer honours would make every later start fail the same way.
    if (step == QLatin1String("SelectDevices") || step == QLatin1String("Start"))
        m_settings.remove(restoreTokenKey);
    m_state = State::refused;
    m_pending.reset();
    m_keyEvents.clear();
    if (m_session)
        m_session.release()->deleteLater();
    emit sessionSettled();
}

void PortalKeyEventPoster::send(uint32_t keysym, bool pressed) {
    m_keyEvents.push_back({keysym, pressed});
    sendNextKeyEvent();
}

void PortalKeyEventPoster::sendNextKeyEvent() {
    if (m_keyEventInFlight || m_keyEvents.empty() || !m_session)
        return;
    const KeyEvent event = m_keyEvents.front();
    m_keyEvents.pop_front();
    auto call = QDBusMessage::createMethodCall(portal::desktopService, portal::desktopPath, interfaceName,
                                               QStringLiteral("NotifyKeyboardKeysym"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(m_session->handle())), QVariantMap(),
                       int(event.keysym), uint(event.pressed ? 1 : 0)});
    m_keyEventInFlight = true;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        m_keyEventInFlight = false;
        if (w->isError()) {
            log(QStringLiteral("NotifyKeyboardKeysym: ") + w->error().message());
            // A press after one that failed would go out without it (V without Ctrl); releases
            // still go, so that nothing stays held.
            std::erase_if(m_keyEvents, [](const KeyEvent& queued) { return queued.pressed; });
        }
        if (m_keyEvents.empty())
            logLatencyMark("portal: keys delivered");
        sendNextKeyEvent();
    });
}

void PortalKeyEventPoster::sendKey(Qt::Key key, Qt::KeyboardModifiers modifiers) {
    std::vector<uint32_t> held;
    if (modifiers & Qt::ControlModifier)
        held.push_back(XKB_KEY_Control_L);
    if (modifiers & Qt::ShiftModifier)
        held.push_back(XKB_KEY_Shift_L);
    if (modifiers & Qt::AltModifier)
        held.push_back(XKB_KEY_Alt_L);
    for (uint32_t modifier : held)
        send(modifier, true);
    send(portal::keysymForKey(key), true);
    send(portal::keysymForKey(key), false);
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        send(*it, false);
}

} // namespace quill
