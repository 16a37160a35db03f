#pragma once

#include <QByteArray>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>

namespace quill::wayland {

// Writes our contents to the readers that ask for them, all from one thread of its own with
// non-blocking pipes, so a slow reader holds up nothing. At most `maxTransfers` run at once:
// a further request ends the oldest, and a reader that takes its data but stops reading is
// given up on after `timeout`. A client asking again and again thus costs a bounded number of
// descriptors and no threads.
class PipeWriter {
public:
    explicit PipeWriter(std::size_t maxTransfers = 32,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~PipeWriter();
    PipeWriter(const PipeWriter&) = delete;
    PipeWriter& operator=(const PipeWriter&) = delete;

    // Takes the descriptor over and writes `bytes` to it; never throws. A writer that cannot
    // start closes the descriptor: the reader then sees an empty transfer.
    void serve(int writeEnd, const QByteArray& bytes) noexcept;
    // How many transfers are under way, for tests.
    std::size_t pending() const;

private:
    struct Transfer {
        int fd;
        QByteArray bytes;
        qsizetype written;
        std::chrono::steady_clock::time_point deadline;
    };

    void run();
    bool start();
    void wake() const;

    const std::size_t m_maxTransfers;
    const std::chrono::milliseconds m_timeout;
    int m_wake = -1;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::deque<Transfer> m_transfers;
    bool m_stop = false;
};

} // namespace quill::wayland
