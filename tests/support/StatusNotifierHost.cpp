#include "StatusNotifierHost.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDateTime>

namespace quill::test {
namespace {
const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");

// Items register either with a bus name or with an object path on the caller's connection.
std::pair<QString, QString> splitService(const QString& service) {
    const int slash = service.indexOf(u'/');
    if (slash < 0)
        return {service, QStringLiteral("/StatusNotifierItem")};
    return {service.left(slash), service.mid(slash)};
}
} // namespace

StatusNotifierHost::StatusNotifierHost(QObject* parent) : QObject(parent) {}

StatusNotifierHost::~StatusNotifierHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(watcherPath);
    bus.unregisterService(watcherService);
}

bool StatusNotifierHost::start() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(watcherPath, this,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals |
                                QDBusConnection::ExportAllProperties))
        return false;
    return bus.registerService(watcherService);
}

void StatusNotifierHost::RegisterStatusNotifierItem(const QString& service) {
    QString fullName = service;
    if (service.startsWith(u'/') && calledFromDBus())
        fullName = message().service() + service;
    if (!m_items.contains(fullName))
        m_items << fullName;
    emit StatusNotifierItemRegistered(fullName);
}

void StatusNotifierHost::RegisterStatusNotifierHost(const QString&) {}

QString StatusNotifierHost::itemProperty(const QString& service, const QString& property,
                                         QDBus::CallMode mode) {
    const auto [name, path] = splitService(service);
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << QStringLiteral("org.kde.StatusNotifierItem") << property;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, mode, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return {};
    const QVariant value = reply.arguments().at(0).value<QDBusVariant>().variant();
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path() : value.toString();
}

namespace {

QDBusMessage menuCall(const QString& service, const QString& method, const QVariantList& arguments,
                      QDBus::CallMode mode) {
    const QString menuPath = StatusNotifierHost::itemProperty(service, QStringLiteral("Menu"), mode);
    QDBusMessage call = QDBusMessage::createMethodCall(
        splitService(service).first, menuPath.isEmpty() ? QStringLiteral("/MenuBar") : menuPath,
        QStringLiteral("com.canonical.dbusmenu"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, mode, 5000);
}

// "shortcut" is a list of key chords, each a list of key names.
QString shortcutText(const QVariant& property) {
    if (!property.isValid())
        return {};
    const QDBusArgument keys = property.value<QDBusArgument>();
    QStringList chords;
    keys.beginArray();
    while (!keys.atEnd()) {
        QStringList chord;
        keys >> chord;
        chords << chord.join(u'+');
    }
    keys.endArray();
    return chords.join(u' ');
}

} // namespace

QList<StatusNotifierHost::MenuItem> StatusNotifierHost::menuItems(const QString& service,
                                                                  QDBus::CallMode mode) {
    const QDBusMessage reply = menuCall(service, QStringLiteral("GetLayout"), {0, -1, QStringList()}, mode);
    QList<MenuItem> items;
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() < 2)
        return items;
    // Layout: (ia{sv}av) whose children are variants holding the same structure.
    const QDBusArgument layout = reply.arguments().at(1).value<QDBusArgument>();
    layout.beginStructure();
    int rootId = 0;
    QVariantMap rootProps;
    layout >> rootId >> rootProps;
    layout.beginArray();
    while (!layout.atEnd()) {
        QDBusVariant child;
        layout >> child;
        const QDBusArgument childArg = child.variant().value<QDBusArgument>();
        MenuItem entry;
        QVariantMap props;
        childArg.beginStructure();
        childArg >> entry.id >> props;
        childArg.endStructure();
        entry.label = props.value(QStringLiteral("label")).toString();
        entry.enabled = props.value(QStringLiteral("enabled"), true).toBool();
        entry.visible = props.value(QStringLiteral("visible"), true).toBool();
        entry.type = props.value(QStringLiteral("type")).toString();
        entry.shortcut = shortcutText(props.value(QStringLiteral("shortcut")));
        items << entry;
    }
    layout.endArray();
    layout.endStructure();
    return items;
}

bool StatusNotifierHost::clickMenuItem(const QString& service, int id, QDBus::CallMode mode) {
    const QVariantList arguments = {id, QStringLiteral("clicked"),
                                    QVariant::fromValue(QDBusVariant(QVariant(0))),
                                    uint(QDateTime::currentSecsSinceEpoch())};
    return menuCall(service, QStringLiteral("Event"), arguments, mode).type() == QDBusMessage::ReplyMessage;
}

} // namespace quill::test
