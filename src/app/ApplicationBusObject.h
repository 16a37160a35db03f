#pragma once

#include "ActionThrottle.h"
#include "CommandLine.h"

#include <QDBusContext>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>
#include <optional>

namespace quill {

// The running program on the session bus: org.freedesktop.Application at
// applicationObjectPath, so that a second launch, a desktop file action or a desktop's key
// binding reaches the one instance. Activate without an action only confirms that it runs.
class ApplicationBusObject : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    static inline const QString applicationObjectPath = QStringLiteral("/app/quillpoint/Quillpoint");
    static inline const QString applicationInterface = QStringLiteral("org.freedesktop.Application");

    explicit ApplicationBusObject(QObject* parent = nullptr);

    // Puts this object on the session bus and takes the bus name; false when another process
    // owns the name (or there is no session bus).
    bool claim(const QString& busName);

    // Asks the instance that owns `busName` to perform `action` (or only to activate), the user's
    // action `actionId` for RemoteAction::action; waits at most `timeoutMs`. Returns the error
    // text, empty on success.
    // `refused` tells an action the instance refused (an unknown id) from one that did not arrive.
    static QString forward(const QString& busName, std::optional<RemoteAction> action, int timeoutMs,
                           const QString& actionId = {}, bool* refused = nullptr);

    // Why the user's action `id` cannot run (unknown, turned off), none when it can. Without a
    // check every id is refused.
    using UserActionCheck = std::function<std::optional<QString>(const QString& id)>;
    void setUserActionCheck(UserActionCheck check) { m_userActionCheck = std::move(check); }
    static bool isRunning(const QString& busName, int timeoutMs);
    // The process that owns `busName`; none when nobody owns it or the bus does not say.
    static std::optional<qint64> ownerProcessId(const QString& busName, int timeoutMs);

public slots:
    // The methods of org.freedesktop.Application, named as the interface names them.
    // NOLINTBEGIN(readability-identifier-naming)
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& actionName, const QVariantList& parameter,
                        const QVariantMap& platformData);
    // NOLINTEND(readability-identifier-naming)

signals:
    // A caller asked for a known action; emitted on a later turn, once the reply has gone out.
    void actionRequested(quill::RemoteAction action);
    // A caller asked for the user's action `id`, on the same terms.
    void userActionRequested(const QString& id);

private:
    // Whether the call for the user's action `parameter` names one that can run; answers the
    // caller with the error otherwise.
    std::optional<QString> userActionId(const QVariantList& parameter);
    // Whether `action` is to run now rather than be taken for a repeat of the last; a burst of
    // repeats is logged once.
    bool admit(RemoteAction action);

    UserActionCheck m_userActionCheck;
    ActionThrottle m_throttle;
    QElapsedTimer m_clock;
    bool m_burstLogged = false;
};

} // namespace quill
