#include "PortalReply.h"

namespace quill {

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

} // namespace quill
