#pragma once

#include <QString>
#include <QVariantMap>

namespace quill {

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

} // namespace quill
