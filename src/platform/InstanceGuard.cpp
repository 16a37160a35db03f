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

QString InstanceGuard::defaultLockPath(const QString& appId) {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + u'/' + appId + QStringLiteral(".lock");
}

} // namespace quill
