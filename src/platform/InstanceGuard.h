#pragma once

#include <QString>
#include <memory>
#include <optional>

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
    // The process that holds the lock at `lockPath`, as it wrote itself into the file; none when
    // the file names nobody.
    static std::optional<qint64> holderProcessId(const QString& lockPath);

private:
    std::unique_ptr<QLockFile> m_lock;
};

} // namespace quill
