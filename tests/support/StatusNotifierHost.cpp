#include "StatusNotifierHost.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusMessage>
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

QString StatusNotifierHost::itemProperty(const QString& service, const QString& property) const {
    const auto [name, path] = splitService(service);
    QDBusInterface item(name, path, QStringLiteral("org.kde.StatusNotifierItem"),
                        QDBusConnection::sessionBus());
    return item.property(property.toUtf8().constData()).toString();
}

QList<StatusNotifierHost::MenuItem> StatusNotifierHost::menuItems(const QString& service) const {
    const auto [name, path] = splitService(service);
    QDBusInterface item(name, path, QStringLiteral("org.kde.StatusNotifierItem"),
                        QDBusConnection::sessionBus());
    const QString menuPath = item.property("Menu").value<QDBusObjectPath>().path();
    QDBusMessage call =
        QDBusMessage::createMethodCall(name, menuPath.isEmpty() ? QStringLiteral("/MenuBar") : menuPath,
                                       QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    call << 0 << -1 << QStringList();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
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
        items << entry;
    }
    layout.endArray();
    layout.endStructure();
    return items;
}

bool StatusNotifierHost::clickMenuItem(const QString& service, int id) const {
    const auto [name, path] = splitService(service);
    QDBusInterface item(name, path, QStringLiteral("org.kde.StatusNotifierItem"),
                        QDBusConnection::sessionBus());
    const QString menuPath = item.property("Menu").value<QDBusObjectPath>().path();
    QDBusMessage call =
        QDBusMessage::createMethodCall(name, menuPath.isEmpty() ? QStringLiteral("/MenuBar") : menuPath,
                                       QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("Event"));
    call << id << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(QVariant(0)))
         << uint(QDateTime::currentSecsSinceEpoch());
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
}

} // namespace quill::test
