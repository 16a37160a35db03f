#include "PipeIo.h"

#include "FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>

namespace quill::wayland {
namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    return int(std::max<Clock::duration::rep>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count()));
}

} // namespace

std::optional<QByteArray> readPipe(int readEnd, qsizetype cap, Clock::time_point deadline) {
    const FileDescriptor fd(readEnd);
    fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    QByteArray data;
    char buffer[64 * 1024];
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return std::nullopt;
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            return data;
        if (data.size() + n > cap)
            return std::nullopt;
        data.append(buffer, n);
    }
}

bool writePipe(int writeEnd, const QByteArray& bytes, Clock::time_point deadline) {
    const FileDescriptor fd(writeEnd);
    fcntl(fd.get(), F_SETFL, fcntl(fd.get(), F_GETFL) | O_NONBLOCK);
    qsizetype written = 0;
    while (written < bytes.size()) {
        pollfd p{fd.get(), POLLOUT, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        const ssize_t n = ::write(fd.get(), bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n < 0)
            return false;
        written += n;
    }
    return true;
}

} // namespace quill::wayland
