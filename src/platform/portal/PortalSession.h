#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>

namespace quill {

// A session the portal created: tells when the portal closes it, and closes it when asked or
// when the object goes away.
class PortalSession final : public QObject {
    Q_OBJECT
public:
    PortalSession(QDBusConnection bus, const QString& handle, QObject* parent = nullptr);
    ~PortalSession() override;
    QString handle() const { return m_handle; }
    bool isOpen() const { return m_open; }
    void close();

signals:
    void closed();

private slots:
    void onClosed(const QDBusMessage& message);

private:
    QDBusConnection m_bus;
    QString m_handle;
    bool m_open = true;
};

} // namespace quill
