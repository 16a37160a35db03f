#include "PortalRequest.h"

#include "PendingRequest.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QRandomGenerator>
#include <QTimer>
#include <atomic>

namespace quill::portal {
namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

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
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    subscribe(requestPath(m_bus, token));

    auto call = QDBusMessage::createMethodCall(desktopService, desktopPath, interface, method);
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
        m_bus.asyncCall(QDBusMessage::createMethodCall(desktopService, m_path, requestInterface,
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

QString PortalReply::describe() const {
    switch (status) {
    case Status::success:
        return QStringLiteral("success");
    case Status::cancelled:
        return QStringLiteral("cancelled by the user");
    case Status::ended:
        return QStringLiteral("refused by the desktop");
    case Status::failed:
        return QStringLiteral("failed: %1").arg(error);
    case Status::timedOut:
        return QStringLiteral("no answer from the portal");
    }
    return {};
}

QString requestPath(const QDBusConnection& bus, const QString& token) {
    QString sender = bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString newToken() {
    static std::atomic<quint32> counter{0};
    return QStringLiteral("quillpoint_%1_%2")
        .arg(++counter)
        .arg(QRandomGenerator::global()->generate() & 0xffffff, 0, 16);
}

void callWithRequest(QDBusConnection bus, const QString& interface, const QString& method,
                     QVariantList arguments, QVariantMap options, std::chrono::milliseconds timeout,
                     QObject* context, std::function<void(const PortalReply&)> done) {
    auto* pending = new PendingRequest(std::move(bus), std::move(done), context);
    pending->start(interface, method, std::move(arguments), std::move(options), timeout);
}

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
    m_bus.asyncCall(
        QDBusMessage::createMethodCall(desktopService, m_handle, sessionInterface, QStringLiteral("Close")));
}

void PortalSession::onClosed(const QDBusMessage&) {
    if (!m_open)
        return;
    m_open = false;
    m_bus.disconnect(QString(), m_handle, sessionInterface, QStringLiteral("Closed"), this,
                     SLOT(onClosed(QDBusMessage)));
    emit closed();
}

} // namespace quill::portal
