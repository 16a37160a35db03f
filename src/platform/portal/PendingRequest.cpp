#include "PendingRequest.h"

#include "PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace quill {
namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

} // namespace

PendingRequest::PendingRequest(QDBusConnection bus, std::function<void(const PortalReply&)> done,
                               QObject* context)
    : QObject(context)
    , m_bus(std::move(bus))
    , m_done(std::move(done)) {}

PendingRequest::~PendingRequest() {
    unsubscribe();
}

void PendingRequest::start(const QString& interface, const QString& method, QVariantList arguments,
                           QVariantMap options, std::chrono::milliseconds timeout) {
    const QString token = portal::newToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    subscribe(portal::requestPath(m_bus, token));

    auto call =
        QDBusMessage::createMethodCall(portal::desktopService, portal::desktopPath, interface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
            finish({PortalReply::Status::failed, {}, reply.error().message()});
            return;
        }
        // Portals before the handle_token convention chose the path themselves.
        if (!m_finished && reply.value().path() != m_path) {
            unsubscribe();
            subscribe(reply.value().path());
        }
    });
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_finished)
            return;
        m_bus.asyncCall(QDBusMessage::createMethodCall(portal::desktopService, m_path, requestInterface,
                                                       QStringLiteral("Close")));
        finish({PortalReply::Status::timedOut, {}, QStringLiteral("the portal did not answer")});
    });
    m_timer.start(timeout);
}

void PendingRequest::onResponse(const QDBusMessage& message) {
    const auto args = message.arguments();
    if (args.size() < 2) {
        finish({PortalReply::Status::failed, {}, QStringLiteral("malformed Response")});
        return;
    }
    const uint code = args.at(0).toUInt();
    const auto results = qdbus_cast<QVariantMap>(args.at(1));
    const auto status = code == 0   ? PortalReply::Status::success
                        : code == 1 ? PortalReply::Status::cancelled
                                    : PortalReply::Status::ended;
    finish({status, results, {}});
}

void PendingRequest::subscribe(const QString& path) {
    m_path = path;
    m_subscribed = m_bus.connect(QString(), m_path, requestInterface, QStringLiteral("Response"), this,
                                 SLOT(onResponse(QDBusMessage)));
}

void PendingRequest::unsubscribe() {
    if (m_subscribed)
        m_bus.disconnect(QString(), m_path, requestInterface, QStringLiteral("Response"), this,
                         SLOT(onResponse(QDBusMessage)));
    m_subscribed = false;
}

void PendingRequest::finish(const PortalReply& reply) {
    if (m_finished)
        return;
    m_finished = true;
    m_timer.stop();
    unsubscribe();
    // The caller may start the next request, or drop its context, from `done`.
    QMetaObject::invokeMethod(
        this, [this, reply] { m_done(reply); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, &QObject::deleteLater, Qt::QueuedConnection);
}

} // namespace quill
