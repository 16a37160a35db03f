#pragma once

#include "PortalReply.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTimer>
#include <chrono>
#include <functional>

namespace quill {

// Lives as a child of the caller's context, so a caller that goes away takes its pending
// requests (and their subscriptions) with it.
class PendingRequest final : public QObject {
    Q_OBJECT
public:
    PendingRequest(QDBusConnection bus, std::function<void(const PortalReply&)> done, QObject* context);
    ~PendingRequest() override;

    void start(const QString& interface, const QString& method, QVariantList arguments, QVariantMap options,
               std::chrono::milliseconds timeout);

private slots:
    void onResponse(const QDBusMessage& message);

private:
    void subscribe(const QString& path);
    void unsubscribe();
    void finish(const PortalReply& reply);

    QDBusConnection m_bus;
    std::function<void(const PortalReply&)> m_done;
    QString m_path;
    QTimer m_timer;
    bool m_subscribed = false;
    bool m_finished = false;
};

} // namespace quill
