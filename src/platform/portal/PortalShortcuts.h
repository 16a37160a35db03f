#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariantMap>

namespace quill {

// One entry of the GlobalShortcuts portal's shortcut lists, D-Bus type (sa{sv}): the id and its
// properties ("description", "preferred_trigger" going out; "trigger_description" coming back).
struct PortalShortcut {
    QString id;
    QVariantMap properties;
};
using PortalShortcutList = QList<PortalShortcut>;

QDBusArgument& operator<<(QDBusArgument& argument, const PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, PortalShortcut& shortcut);

} // namespace quill

namespace quill::portal {

void registerPortalShortcutTypes();
// The list in a result map's or a signal's variant, however QtDBus delivered it.
PortalShortcutList portalShortcutList(const QVariant& value);

} // namespace quill::portal

Q_DECLARE_METATYPE(quill::PortalShortcut)
