#include "InstanceGuard.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

namespace quill {

InstanceGuard::InstanceGuard(const QString& lockPath) : m_lock(std::make_unique<QLockFile>(lockPath)) {
    // A crashed holder leaves its file behind; QLockFile recognises it by the dead process id.
    m_lock->setStaleLockTime(0);
}

InstanceGuard::~InstanceGuard() = default;

bool InstanceGuard::tryAcquire() {
    return m_lock->tryLock(0);
}

std::optional<qint64> InstanceGuard::holderProcessId(const QString& lockPath) {
    qint64 pid = 0;
    QString host;
    QString application;
    if (!QLockFile(lockPath).getLockInfo(&pid, &host, &application) || pid <= 0)
        return std::nullopt;
    return pid;
}

QString InstanceGuard::defaultLockPath(const QString& appId) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + u'/' + appId + QStringLiteral(".lock");
}

} // namespace quill
