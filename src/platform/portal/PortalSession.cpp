#include "PortalSession.h"

#include "PortalRequest.h"

#include <QDBusMessage>
#include <QDBusPendingCall>

namespace quill {
namespace {

const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

} // namespace

PortalSession::PortalSession(QDBusConnection bus, const QString& handle, QObject* parent)
    : QObject(parent)
    , m_bus(std::move(bus))
    , m_handle(handle) {
    m_bus.connect(QString(), m_handle, sessionInterface, QStringLiteral("Closed"), this,
                  SLOT(onClosed(QDBusMessage)));
}

PortalSession::~PortalSession() {
    close();
}

void PortalSession::close() {
    if (!m_open)
        return;
    m_open = false;
    m_bus.disconnect(QString(), m_handle, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onClosed(QDBusMessage)));
    m_bus.asyncCall(QDBusMessage::createMethodCall(portal::desktopService, m_handle, sessionInterface,
                                                   QStringLiteral("Close")));
}

void PortalSession::onClosed(const QDBusMessage&) {
    if (!m_open)
        return;
    m_open = false;
    m_bus.disconnect(QString(), m_handle, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onClosed(QDBusMessage)));
    emit closed();
}

} // namespace quill
