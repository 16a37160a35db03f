#pragma once

#include <QObject>
#include <optional>

namespace quill {

// Which process owns the window in front, now and at each later activation.
class ActiveWindowTracker : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // None when no window is active or the active window does not name its process.
    virtual std::optional<qint64> frontProcessId() = 0;

signals:
    // Another window came to the front; announced once per switch, on the main thread.
    void activated(qint64 processId);
};

} // namespace quill
