#include "PortalGlobalShortcuts.h"

#include "PortalKeys.h"
#include "PortalRequest.h"
#include "platform/Log.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>

namespace quill {
namespace {

const QString interfaceName = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

QString objectPathArgument(const QVariant& value) {
    if (value.canConvert<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

void log(const QString& text) {
    logLine(lcShortcuts(), QStringLiteral("PortalGlobalShortcuts"), text);
}

QString triggerOf(const KeyCombination& combination) {
    return portal::triggerFor(combination.key, combination.modifiers);
}

// An object path element: letters, digits and underscores.
QString tokenFor(const QString& prefix, const QString& id) {
    QString token = prefix + QLatin1Char('_');
    for (const QChar c : id)
        token += c.isLetterOrNumber() && c.unicode() < 128 ? c : QLatin1Char('_');
    return token;
}

} // namespace

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus)
    : PortalGlobalShortcuts(std::move(bus), Options{}) {}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(std::move(options)) {
    portal::registerPortalShortcutTypes();
}

PortalGlobalShortcuts::~PortalGlobalShortcuts() = default;

bool PortalGlobalShortcuts::install(PressHandler onPress, ReleaseHandler onRelease) {
    m_onPress = std::move(onPress);
    m_onRelease = std::move(onRelease);
    if (m_installed)
        return true;
    if (!m_bus.isConnected())
        return false;
    m_installed = true;
    m_bus.connect(QString(), portal::desktopPath, interfaceName, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
    m_bus.connect(QString(), portal::desktopPath, interfaceName, QStringLiteral("Deactivated"), this,
                  SLOT(onDeactivated(QDBusMessage)));
    m_bus.connect(QString(), portal::desktopPath, interfaceName, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));
    return true;
}

KeyGrabber::GrabResult PortalGlobalShortcuts::grab(const KeyCombination& combination) {
    const QString id = triggerOf(combination);
    if (id.isEmpty())
        return GrabResult::noSuchKey;
    const auto description = m_descriptions.find(combination);
    const QString text = description != m_descriptions.end() ? description->second : QString();
    if (const auto it = m_bindings.find(id); it != m_bindings.end()) {
        // Still held, or taken back in the same turn (the registry's update with an unchanged
        // key): the session stays. A refused key is asked for again.
        if (it->second.state != State::refused) {
            it->second.wanted = true;
            return GrabResult::grabbed;
        }
        m_bindings.erase(it);
    }
    Binding& binding = m_bindings[id];
    binding.combination = combination;
    binding.description = text;
    binding.serial = ++m_serial;
    scheduleBind();
    return GrabResult::grabbed;
}

void PortalGlobalShortcuts::ungrab(const KeyCombination& combination) {
    // The session is closed on a later turn unless the key is grabbed again before: closing and
    // creating the same session at once would let KDE switch off the new one's key.
    const auto it = m_bindings.find(triggerOf(combination));
    if (it == m_bindings.end())
        return;
    it->second.wanted = false;
    scheduleBind();
}

void PortalGlobalShortcuts::setRefusalHandler(const RefusalHandler& handler) {
    m_onRefusal = handler;
}

void PortalGlobalShortcuts::describe(const KeyCombination& combination, const QString& description) {
    m_descriptions[combination] = description;
}

QString PortalGlobalShortcuts::assignedTrigger(const KeyCombination& combination) const {
    const auto it = m_bindings.find(triggerOf(combination));
    return it == m_bindings.end() ? QString() : it->second.assignedTrigger;
}

void PortalGlobalShortcuts::scheduleBind() {
    if (m_bindScheduled)
        return;
    m_bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        bindWaiting();
    });
}

void PortalGlobalShortcuts::bindWaiting() {
    // Answers still on their way for an erased binding find none with their serial.
    std::erase_if(m_bindings, [](const auto& entry) { return !entry.second.wanted; });
    for (auto& [id, binding] : m_bindings) {
        if (binding.state == State::waiting)
            bind(id, binding);
    }
}

void PortalGlobalShortcuts::bind(const QString& id, Binding& binding) {
    binding.state = State::binding;
    // KDE 5.27 binds the shortcuts passed to CreateSession (its BindShortcuts only opens the
    // desktop's shortcut settings); other desktops bind in BindShortcuts. KDE drops an action
    // without a description.
    const PortalShortcutList shortcuts{
        {id,
         {{QStringLiteral("description"), binding.description.isEmpty() ? id : binding.description},
          {QStringLiteral("preferred_trigger"), id}}}};
    const QVariantMap options{{QStringLiteral("session_handle_token"), tokenFor(m_options.sessionPrefix, id)},
                              {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}};
    portal::callWithRequest(
        m_bus, interfaceName, QStringLiteral("CreateSession"), {}, options, m_options.timeout, this,
        [this, id, serial = binding.serial](const PortalReply& reply) { sessionCreated(id, serial, reply); });
}

PortalGlobalShortcuts::Binding* PortalGlobalShortcuts::current(const QString& id, quint64 serial) {
    const auto it = m_bindings.find(id);
    return it != m_bindings.end() && it->second.serial == serial && it->second.wanted ? &it->second : nullptr;
}

void PortalGlobalShortcuts::sessionCreated(const QString& id, quint64 serial, const PortalReply& reply) {
    const QString handle = objectPathArgument(reply.results.value(QStringLiteral("session_handle")));
    auto session = reply.ok() ? std::make_unique<PortalSession>(m_bus, handle) : nullptr;
    Binding* binding = current(id, serial);
    // Ungrabbed while the portal was answering: the session goes with `session`.
    if (!binding)
        return;
    if (!reply.ok()) {
        log(QStringLiteral("%1: CreateSession %2").arg(id, reply.describe()));
        refuse(*binding, GrabResult::refused);
        return;
    }
    binding->session = std::move(session);
    connect(binding->session.get(), &PortalSession::closed, this, [this, id, serial] {
        Binding* closed = current(id, serial);
        if (!closed)
            return;
        log(QStringLiteral("%1: the desktop closed the session").arg(id));
        closed->session.release()->deleteLater();
        closed->pressed = false;
        refuse(*closed, GrabResult::refused);
    });
    const PortalShortcutList given =
        portal::portalShortcutList(reply.results.value(QStringLiteral("shortcuts")));
    if (std::any_of(given.begin(), given.end(),
                    [&](const PortalShortcut& entry) { return entry.id == id; })) {
        bound(id, serial, reply);
        return;
    }
    const PortalShortcutList shortcuts{
        {id,
         {{QStringLiteral("description"), binding->description.isEmpty() ? id : binding->description},
          {QStringLiteral("preferred_trigger"), id}}}};
    portal::callWithRequest(
        m_bus, interfaceName, QStringLiteral("BindShortcuts"),
        {QVariant::fromValue(QDBusObjectPath(handle)), QVariant::fromValue(shortcuts), QString()}, {},
        m_options.bindTimeout, this,
        [this, id, serial](const PortalReply& answer) { bound(id, serial, answer); });
}

void PortalGlobalShortcuts::bound(const QString& id, quint64 serial, const PortalReply& reply) {
    Binding* binding = current(id, serial);
    if (!binding)
        return;
    if (!reply.ok()) {
        log(QStringLiteral("%1: BindShortcuts %2").arg(id, reply.describe()));
        refuse(*binding, GrabResult::refused);
        return;
    }
    const PortalShortcutList given =
        portal::portalShortcutList(reply.results.value(QStringLiteral("shortcuts")));
    const auto entry = std::find_if(given.begin(), given.end(),
                                    [&](const PortalShortcut& shortcut) { return shortcut.id == id; });
    if (entry == given.end()) {
        refuse(*binding, GrabResult::refused);
        return;
    }
    const auto trigger = entry->properties.find(QStringLiteral("trigger_description"));
    binding->assignedTrigger = trigger == entry->properties.end() ? QString() : trigger->toString();
    // An action listed with an empty trigger has no key: KDE gives none to a key that another
    // application holds. A desktop that does not describe triggers leaves the property out.
    if (trigger != entry->properties.end() && binding->assignedTrigger.isEmpty()) {
        refuse(*binding, GrabResult::taken);
        return;
    }
    binding->state = State::bound;
    emit bindingSettled();
}

void PortalGlobalShortcuts::refuse(Binding& binding, GrabResult result) {
    binding.state = State::refused;
    log(QStringLiteral("%1: no key from the desktop").arg(triggerOf(binding.combination)));
    // The handler may grab the key again, which replaces `binding`.
    const KeyCombination combination = binding.combination;
    if (m_onRefusal)
        m_onRefusal(combination, result);
    emit bindingSettled();
}

std::pair<QString, PortalGlobalShortcuts::Binding*>
PortalGlobalShortcuts::bindingFor(const QDBusMessage& message) {
    const auto arguments = message.arguments();
    if (arguments.size() < 2)
        return {};
    const QString session = objectPathArgument(arguments.at(0));
    for (auto& [id, binding] : m_bindings) {
        if (binding.wanted && binding.session && binding.session->handle() == session)
            return {id, &binding};
    }
    return {};
}

void PortalGlobalShortcuts::onActivated(const QDBusMessage& message) {
    const auto [id, binding] = bindingFor(message);
    // A key held down is one press, whatever the desktop does with the keyboard's repeat.
    if (!binding || message.arguments().at(1).toString() != id || binding->pressed)
        return;
    binding->pressed = true;
    logLatencyMark("key event");
    if (m_onPress)
        m_onPress(binding->combination);
}

void PortalGlobalShortcuts::onDeactivated(const QDBusMessage& message) {
    const auto [id, binding] = bindingFor(message);
    if (!binding || message.arguments().at(1).toString() != id || !binding->pressed)
        return;
    binding->pressed = false;
    if (m_onRelease)
        m_onRelease(binding->combination);
}

void PortalGlobalShortcuts::onShortcutsChanged(const QDBusMessage& message) {
    const auto [id, binding] = bindingFor(message);
    if (!binding)
        return;
    for (const auto& entry : portal::portalShortcutList(message.arguments().at(1))) {
        if (entry.id != id)
            continue;
        const QString trigger = entry.properties.value(QStringLiteral("trigger_description")).toString();
        log(QStringLiteral("%1 is now on \"%2\"").arg(id, trigger));
        const bool hadKey = !binding->assignedTrigger.isEmpty();
        binding->assignedTrigger = trigger;
        if (trigger.isEmpty() && hadKey)
            refuse(*binding, GrabResult::refused);
        return;
    }
}

} // namespace quill
