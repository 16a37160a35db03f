#include "GnomeKeybindingGrabber.h"

#include "GnomeAccelerator.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QRegularExpression>

namespace quill {

bool GnomeKeybindingGrabber::sessionOffers(const QDBusConnection& bus) {
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Shell")).value() &&
           GnomeKeybindings::available();
}

std::optional<QString> GnomeKeybindingGrabber::boundElsewhere(const KeyCombination& combination,
                                                              const QString& idPrefix) {
    return GnomeKeybindings(idPrefix).boundElsewhere(
        [&combination](const QString& bound) { return gnome::acceleratorMatches(bound, combination); });
}

GnomeKeybindingGrabber::GnomeKeybindingGrabber(QDBusConnection bus, Options options)
    : m_bus(std::move(bus))
    , m_options(std::move(options))
    , m_keybindings(m_options.idPrefix) {}

GnomeKeybindingGrabber::~GnomeKeybindingGrabber() {
    if (!m_installed)
        return;
    m_keybindings.removeAll();
    GnomeKeybindings::flush();
    m_bus.unregisterObject(objectPath);
}

bool GnomeKeybindingGrabber::install(PressHandler onPress, ReleaseHandler) {
    if (m_installed)
        return true;
    if (m_options.gdbusPath.isEmpty() || m_options.busName.isEmpty() || !GnomeKeybindings::available())
        return false;
    if (!m_bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots)) {
        logLine(lcPlatform(), QStringLiteral("GnomeKeybindingGrabber"),
                QStringLiteral("Could not put the key object on the session bus: ") +
                    m_bus.lastError().message());
        return false;
    }
    m_onPress = std::move(onPress);
    m_installed = true;
    m_keybindings.removeAll();
    return true;
}

KeyGrabber::GrabResult GnomeKeybindingGrabber::grab(const KeyCombination& combination) {
    const QString accelerator = gnome::acceleratorFor(combination);
    if (accelerator.isEmpty())
        return GrabResult::noSuchKey;
    if (!m_installed)
        return GrabResult::refused;
    const QString id = idFor(combination);
    if (!m_grabbed.contains(id)) {
        if (const auto elsewhere = boundElsewhere(combination, m_options.idPrefix)) {
            logLine(lcPlatform(), QStringLiteral("GnomeKeybindingGrabber"),
                    QStringLiteral("%1 is bound to \"%2\" in GNOME's settings").arg(accelerator, *elsewhere));
            return GrabResult::taken;
        }
    }
    m_keybindings.set(id, nameFor(combination), commandFor(id), accelerator);
    m_grabbed[id] = combination;
    return GrabResult::grabbed;
}

void GnomeKeybindingGrabber::ungrab(const KeyCombination& combination) {
    const QString id = idFor(combination);
    if (m_grabbed.erase(id) > 0)
        m_keybindings.remove(id);
}

void GnomeKeybindingGrabber::describe(const KeyCombination& combination, const QString& description) {
    m_descriptions[combination] = description;
    const QString id = idFor(combination);
    if (m_grabbed.contains(id))
        m_keybindings.set(id, nameFor(combination), commandFor(id), gnome::acceleratorFor(combination));
}

QString GnomeKeybindingGrabber::settingsNote() const {
    return QCoreApplication::translate("GnomeKeybindingGrabber", "Set in GNOME's keyboard settings");
}

QString GnomeKeybindingGrabber::idFor(const KeyCombination& combination) const {
    static const QRegularExpression notAlphanumeric(QStringLiteral("[^a-z0-9]+"));
    return m_options.idPrefix + gnome::acceleratorFor(combination)
                                    .toLower()
                                    .replace(u'>', u'-')
                                    .remove(u'<')
                                    .replace(notAlphanumeric, QStringLiteral("-"));
}

void GnomeKeybindingGrabber::Press(const QString& id) {
    const auto found = m_grabbed.find(id);
    if (found == m_grabbed.end() || !m_onPress)
        return;
    logLatencyMark("key event");
    m_onPress(found->second);
}

QString GnomeKeybindingGrabber::commandFor(const QString& id) const {
    return QStringList{m_options.gdbusPath,
                       QStringLiteral("call"),
                       QStringLiteral("--session"),
                       QStringLiteral("--dest"),
                       m_options.busName,
                       QStringLiteral("--object-path"),
                       objectPath,
                       QStringLiteral("--method"),
                       QStringLiteral("app.quillpoint.Quillpoint.Keys.Press"),
                       id}
        .join(u' ');
}

QString GnomeKeybindingGrabber::nameFor(const KeyCombination& combination) const {
    const auto found = m_descriptions.find(combination);
    if (found == m_descriptions.end() || found->second.isEmpty())
        return QStringLiteral("Quillpoint");
    return QStringLiteral("Quillpoint: ") + found->second;
}

} // namespace quill
