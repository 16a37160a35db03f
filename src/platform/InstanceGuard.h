#pragma once

#include <QString>
#include <memory>

class QLockFile;

namespace quill {

// Keeps a second copy of the program in the same user session from running. The lock lives in
// the session's runtime directory and is released by the system when the holder dies.
class InstanceGuard {
public:
    explicit InstanceGuard(const QString& lockPath);
    ~InstanceGuard();
    bool tryAcquire();
    static QString defaultLockPath(const QString& appId);

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace quill
