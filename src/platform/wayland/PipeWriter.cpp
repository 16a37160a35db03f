#include "PipeWriter.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace quill::wayland {
namespace {

using Clock = std::chrono::steady_clock;

} // namespace

PipeWriter::PipeWriter(std::size_t maxTransfers, std::chrono::milliseconds timeout)
    : m_maxTransfers(std::max<std::size_t>(1, maxTransfers))
    , m_timeout(timeout) {}

PipeWriter::~PipeWriter() {
    if (m_thread.joinable()) {
        {
            const std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        wake();
        m_thread.join();
    }
    for (const Transfer& transfer : m_transfers)
        ::close(transfer.fd);
    if (m_wake >= 0)
        ::close(m_wake);
}

void PipeWriter::serve(int writeEnd, const QByteArray& bytes) noexcept {
    try {
        fcntl(writeEnd, F_SETFL, fcntl(writeEnd, F_GETFL) | O_NONBLOCK);
        {
            const std::lock_guard lock(m_mutex);
            if (!start()) {
                ::close(writeEnd);
                return;
            }
            if (m_transfers.size() >= m_maxTransfers) {
                ::close(m_transfers.front().fd);
                m_transfers.pop_front();
            }
            m_transfers.push_back({writeEnd, bytes, 0, Clock::now() + m_timeout});
        }
        wake();
    } catch (...) {
        ::close(writeEnd);
    }
}

std::size_t PipeWriter::pending() const {
    const std::lock_guard lock(m_mutex);
    return m_transfers.size();
}

// Called with the mutex held.
bool PipeWriter::start() {
    if (m_thread.joinable())
        return true;
    if (m_wake < 0)
        m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wake < 0)
        return false;
    try {
        m_thread = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void PipeWriter::wake() const {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wake, &one, sizeof one);
}

void PipeWriter::run() {
    // A reader that closes early must not end the process with SIGPIPE.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    std::vector<pollfd> fds;
    std::vector<Transfer> ready;
    for (;;) {
        Clock::time_point nextDeadline = Clock::time_point::max();
        fds.assign(1, pollfd{m_wake, POLLIN, 0});
        {
            const std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            for (const Transfer& transfer : m_transfers) {
                fds.push_back({transfer.fd, POLLOUT, 0});
                nextDeadline = std::min(nextDeadline, transfer.deadline);
            }
        }
        int timeoutMs = -1;
        if (nextDeadline != Clock::time_point::max()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(nextDeadline - Clock::now());
            timeoutMs = int(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, 60'000));
        }
        if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wake, &count, sizeof count);
        }

        const std::lock_guard lock(m_mutex);
        const Clock::time_point now = Clock::now();
        // Only what was polled may be written; a transfer added or dropped meanwhile waits for
        // the next turn.
        for (std::size_t i = 1; i < fds.size(); ++i) {
            if (!fds[i].revents)
                continue;
            const auto it = std::find_if(m_transfers.begin(), m_transfers.end(),
                                         [fd = fds[i].fd](const Transfer& t) { return t.fd == fd; });
            if (it == m_transfers.end())
                continue;
            bool readerGone = false;
            while (it->written < it->bytes.size()) {
                const ssize_t n = ::write(it->fd, it->bytes.constData() + it->written,
                                          std::size_t(it->bytes.size() - it->written));
                if (n > 0) {
                    it->written += n;
                } else if (n < 0 && errno == EAGAIN) {
                    break;
                } else if (n == 0 || errno != EINTR) {
                    readerGone = true;
                    break;
                }
            }
            if (readerGone || it->written == it->bytes.size())
                it->deadline = Clock::time_point::min();
        }
        std::erase_if(m_transfers, [now](const Transfer& t) {
            if (t.deadline > now)
                return false;
            ::close(t.fd);
            return true;
        });
    }
}

} // namespace quill::wayland
