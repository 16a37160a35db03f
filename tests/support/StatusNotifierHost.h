#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>

namespace quill::test {

// A minimal tray host for the session bus: it owns org.kde.StatusNotifierWatcher so that
// programs show their tray icons, and lets a test read and click their menus over dbusmenu.
class StatusNotifierHost : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ registeredItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ isHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    explicit StatusNotifierHost(QObject* parent = nullptr);
    ~StatusNotifierHost() override;
    bool start();

    QStringList registeredItems() const { return m_items; }
    bool isHostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    struct MenuItem {
        int id = 0;
        QString label;
        bool enabled = true;
        bool visible = true;
        QString type;
        QString shortcut; // the keys of the dbusmenu "shortcut" property, e.g. "Control+1"
    };
    // The top-level items of the menu of the item registered by `service`. A test whose own
    // process exports the item must call with QDBus::BlockWithGui so that it can answer itself.
    static QList<MenuItem> menuItems(const QString& service, QDBus::CallMode mode = QDBus::Block);
    static bool clickMenuItem(const QString& service, int id, QDBus::CallMode mode = QDBus::Block);
    static QString itemProperty(const QString& service, const QString& property,
                                QDBus::CallMode mode = QDBus::Block);

    // The watcher's D-Bus interface: the names are the protocol's.
    // NOLINTBEGIN(readability-identifier-naming)
public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
    // NOLINTEND(readability-identifier-naming)

private:
    QStringList m_items;
};

} // namespace quill::test
