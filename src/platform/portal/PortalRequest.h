#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <functional>

namespace quill::portal {

inline const QString desktopService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");

// How one portal request ended. The portal answers a call with a request object and reports the
// outcome later in that object's Response signal; a call that fails outright, or no Response in
// time, is an outcome too, never an exception or a wait.
struct PortalReply {
    enum class Status {
        success,   // Response 0
        cancelled, // Response 1: the user said no
        ended,     // Response 2: the portal or the desktop ended the interaction
        failed,    // the call itself failed (no portal, no such interface, bad arguments)
        timedOut   // no Response within the deadline
    };
    Status status = Status::failed;
    QVariantMap results;
    QString error;
    bool ok() const { return status == Status::success; }
    QString describe() const;
};

// The object path the portal gives the request of a call with `token` from `bus`: its unique
// name without the colon and with dots as underscores, then the token.
QString requestPath(const QDBusConnection& bus, const QString& token);
// A token unique within this process, usable as an object path element.
QString newToken();

// One call in the Request/Response pattern. The Response signal is subscribed to on the
// predicted path before the call goes out, so an answer sent right after the call (or even
// before its reply) is not lost. `done` runs exactly once on the thread of `bus`'s owner,
// from the event loop, unless `context` is gone by then.
void callWithRequest(QDBusConnection bus, const QString& interface, const QString& method,
                     QVariantList arguments, QVariantMap options, std::chrono::milliseconds timeout,
                     QObject* context, std::function<void(const PortalReply&)> done);

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

} // namespace quill::portal
