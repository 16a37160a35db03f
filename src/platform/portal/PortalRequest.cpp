#include "PortalRequest.h"

#include "PendingRequest.h"

#include <QRandomGenerator>
#include <atomic>

namespace quill::portal {

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

} // namespace quill::portal
