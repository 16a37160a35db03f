#pragma once

#include <QObject>
#include <optional>

namespace quill {

class ActiveWindowTracker;

// Remembers the last application other than this program that came to the front, so that a
// sequence started from one of our own windows (the tray menu, say) reads the application the
// user came from.
class FrontApplicationTracker : public QObject {
    Q_OBJECT
public:
    FrontApplicationTracker(ActiveWindowTracker& windows, qint64 ownProcessId, QObject* parent = nullptr);

    // Takes the application in front now, unless it is this program, and follows every later switch.
    void start();

    std::optional<qint64> lastActiveAppPID() const { return m_lastActiveAppPID; }

    // The application whose selection to read: the last other application while one of our own
    // windows is in front, none (whatever has the focus) otherwise.
    std::optional<qint32> selectionOwner() const;

private:
    ActiveWindowTracker& m_windows;
    const qint64 m_ownProcessId;
    std::optional<qint64> m_lastActiveAppPID;
};

} // namespace quill
