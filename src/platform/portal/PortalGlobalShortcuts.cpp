#include "PortalGlobalShortcuts.h"

#include "PortalKeys.h"
#include "PortalShortcuts.h"
#include "platform/Log.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTimer>

namespace quill::portal {
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

} // namespace

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus)
    : PortalGlobalShortcuts(std::move(bus), Options{}) {}

PortalGlobalShortcuts::PortalGlobalShortcuts(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(std::move(options)) {
    registerPortalShortcutTypes();
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
    m_bus.connect(QString(), desktopPath, interfaceName, QStringLiteral("Activated"), this,
                  SLOT(onActivated(QDBusMessage)));
    m_bus.connect(QString(), desktopPath, interfaceName, QStringLiteral("Deactivated"), this,
                  SLOT(onDeactivated(QDBusMessage)));
    m_bus.connect(QString(), desktopPath, interfaceName, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(onShortcutsChanged(QDBusMessage)));
    return true;
}

KeyGrabber::GrabResult PortalGlobalShortcuts::grab(const KeyCombination& combination) {
    const QString id = triggerFor(combination.key, combination.modifiers);
    if (id.isEmpty())
        return GrabResult::noSuchKey;
    const auto description = m_descriptions.find(combination);
    m_wanted[id] = {combination, description != m_descriptions.end() ? description->second : QString()};
    scheduleBind();
    return GrabResult::grabbed;
}

void PortalGlobalShortcuts::ungrab(const KeyCombination& combination) {
    const QString id = triggerFor(combination.key, combination.modifiers);
    if (m_wanted.erase(id) > 0)
        scheduleBind();
}

void PortalGlobalShortcuts::setRefusalHandler(RefusalHandler handler) {
    m_onRefusal = std::move(handler);
}

void PortalGlobalShortcuts::describe(const KeyCombination& combination, const QString& description) {
    m_descriptions[combination] = description;
}

QString PortalGlobalShortcuts::assignedTrigger(const KeyCombination& combination) const {
    const auto it = m_assigned.find(triggerFor(combination.key, combination.modifiers));
    return it == m_assigned.end() ? QString() : it->second;
}

void PortalGlobalShortcuts::scheduleBind() {
    // A grab followed by an ungrab in the same turn (the registry's check) costs nothing, and the
    // launch's two shortcuts make one session.
    if (m_bindScheduled)
        return;
    m_bindScheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        bind();
    });
}

void PortalGlobalShortcuts::bind() {
    if (m_binding)
        return;
    std::set<QString> ids;
    for (const auto& [id, wanted] : m_wanted)
        ids.insert(id);
    // A refused set is asked for again only once the grabs change.
    if (ids == m_boundIds)
        return;
    // Close before creating: KDE 5.27 gives both sessions the same component, and the old one
    // going away would otherwise switch off the new one's keys.
    m_session.reset();
    m_pressed.clear();
    m_boundIds = ids;
    if (ids.empty()) {
        settle();
        return;
    }
    m_binding = true;
    const quint64 round = ++m_round;
    PortalShortcutList shortcuts;
    for (const auto& [id, wanted] : m_wanted) {
        const QString description = wanted.description.isEmpty() ? id : wanted.description;
        shortcuts.append(
            {id, {{QStringLiteral("description"), description}, {QStringLiteral("preferred_trigger"), id}}});
    }
    // KDE 5.27 binds the shortcuts passed to CreateSession; its BindShortcuts only opens the
    // desktop's shortcut settings. Other desktops bind in BindShortcuts.
    const QVariantMap options{{QStringLiteral("session_handle_token"), m_options.sessionToken},
                              {QStringLiteral("shortcuts"), QVariant::fromValue(shortcuts)}};
    callWithRequest(
        m_bus, interfaceName, QStringLiteral("CreateSession"), {}, options, m_options.timeout, this,
        [this, round, ids, shortcuts](const PortalReply& reply) {
            if (round != m_round)
                return;
            if (!reply.ok()) {
                log(QStringLiteral("CreateSession: ") + reply.describe());
                refuseAll(ids, GrabResult::refused);
                settle();
                return;
            }
            const QString handle = objectPathArgument(reply.results.value(QStringLiteral("session_handle")));
            m_session = std::make_unique<PortalSession>(m_bus, handle);
            connect(m_session.get(), &PortalSession::closed, this, [this] {
                log(QStringLiteral("the desktop closed the shortcut session"));
                std::set<QString> lost = m_boundIds;
                m_session.release()->deleteLater();
                m_boundIds.clear();
                m_pressed.clear();
                refuseAll(lost, GrabResult::refused);
            });
            std::set<QString> given;
            for (const auto& entry : portalShortcutList(reply.results.value(QStringLiteral("shortcuts"))))
                given.insert(entry.id);
            if (std::includes(given.begin(), given.end(), ids.begin(), ids.end())) {
                applyAssigned(reply, ids);
                settle();
                return;
            }
            callWithRequest(
                m_bus, interfaceName, QStringLiteral("BindShortcuts"),
                {QVariant::fromValue(QDBusObjectPath(handle)), QVariant::fromValue(shortcuts), QString()}, {},
                m_options.timeout, this, [this, round, ids](const PortalReply& bound) {
                    if (round != m_round)
                        return;
                    if (bound.ok()) {
                        applyAssigned(bound, ids);
                    } else {
                        log(QStringLiteral("BindShortcuts: ") + bound.describe());
                        refuseAll(ids, GrabResult::refused);
                    }
                    settle();
                });
        });
}

void PortalGlobalShortcuts::applyAssigned(const PortalReply& reply, const std::set<QString>& ids) {
    std::set<QString> missing = ids;
    std::set<QString> taken;
    for (const auto& entry : portalShortcutList(reply.results.value(QStringLiteral("shortcuts")))) {
        if (!missing.erase(entry.id))
            continue;
        const auto trigger = entry.properties.find(QStringLiteral("trigger_description"));
        if (trigger == entry.properties.end())
            continue;
        m_assigned[entry.id] = trigger->toString();
        // An action the desktop lists without a key has none: KDE gives none to a key that
        // another application holds.
        if (trigger->toString().isEmpty())
            taken.insert(entry.id);
    }
    refuseAll(missing, GrabResult::refused);
    refuseAll(taken, GrabResult::taken);
}

void PortalGlobalShortcuts::refuseAll(const std::set<QString>& ids, GrabResult result) {
    for (const QString& id : ids) {
        const Wanted* wanted = wantedFor(id);
        if (!wanted)
            continue;
        log(QStringLiteral("%1: no key from the desktop").arg(id));
        if (m_onRefusal)
            m_onRefusal(wanted->combination, result);
    }
}

void PortalGlobalShortcuts::settle() {
    m_binding = false;
    emit bindingSettled();
    // Grabs that changed while the round ran.
    scheduleBind();
}

bool PortalGlobalShortcuts::isOurSession(const QDBusMessage& message) const {
    return m_session && !message.arguments().isEmpty() &&
           objectPathArgument(message.arguments().at(0)) == m_session->handle();
}

const PortalGlobalShortcuts::Wanted* PortalGlobalShortcuts::wantedFor(const QString& id) const {
    const auto it = m_wanted.find(id);
    return it == m_wanted.end() ? nullptr : &it->second;
}

void PortalGlobalShortcuts::onActivated(const QDBusMessage& message) {
    if (!isOurSession(message) || message.arguments().size() < 2)
        return;
    const QString id = message.arguments().at(1).toString();
    const Wanted* wanted = wantedFor(id);
    // A key held down is one press, whatever the desktop does with the keyboard's repeat.
    if (!wanted || !m_pressed.insert(id).second)
        return;
    if (m_onPress)
        m_onPress(wanted->combination);
}

void PortalGlobalShortcuts::onDeactivated(const QDBusMessage& message) {
    if (!isOurSession(message) || message.arguments().size() < 2)
        return;
    const QString id = message.arguments().at(1).toString();
    const Wanted* wanted = wantedFor(id);
    if (!wanted || m_pressed.erase(id) == 0)
        return;
    if (m_onRelease)
        m_onRelease(wanted->combination);
}

void PortalGlobalShortcuts::onShortcutsChanged(const QDBusMessage& message) {
    if (!isOurSession(message) || message.arguments().size() < 2)
        return;
    std::set<QString> lost;
    for (const auto& entry : portalShortcutList(message.arguments().at(1))) {
        if (!wantedFor(entry.id))
            continue;
        const QString trigger = entry.properties.value(QStringLiteral("trigger_description")).toString();
        log(QStringLiteral("%1 is now on \"%2\"").arg(entry.id, trigger));
        const bool hadKey = !m_assigned[entry.id].isEmpty();
        m_assigned[entry.id] = trigger;
        if (trigger.isEmpty() && hadKey)
            lost.insert(entry.id);
    }
    refuseAll(lost, GrabResult::refused);
}

} // namespace quill::portal
