#pragma once

#include "PortalReply.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <chrono>
#include <functional>

// The portals' Request/Response pattern.
namespace quill::portal {

inline const QString desktopService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString desktopPath = QStringLiteral("/org/freedesktop/portal/desktop");

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

} // namespace quill::portal
