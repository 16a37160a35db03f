#include "ClipboardReader.h"

#include <QEventLoop>
#include <QTimer>
#include <future>
#include <thread>

namespace quill {
namespace {

using Clock = ClipboardTransfer::Clock;
using namespace std::chrono_literals;

// How long the caller waits past the budget for a transfer that is about to end.
constexpr auto kGrace = 100ms;

ClipboardContents transferAll(ClipboardTransfer& transfer, const ClipboardReadLimits& limits,
                              Clock::time_point deadline) {
    const std::optional<QStringList> formats = transfer.formats(deadline);
    if (!formats)
        return {{}, false};
    ClipboardContents result;
    qsizetype total = 0;
    for (const QString& format : *formats) {
        if (Clock::now() >= deadline) {
            result.complete = false;
            break;
        }
        const auto bytes =
            transfer.fetch(format, std::min(limits.maxFormatBytes, limits.maxTotalBytes - total), deadline);
        if (!bytes) {
            result.complete = false;
        } else if (!bytes->isEmpty()) {
            total += bytes->size();
            result.formats.append({format, *bytes});
        }
    }
    return result;
}

} // namespace

ClipboardReader::ClipboardReader(const ClipboardReadLimits& limits) : m_limits(limits) {}

ClipboardContents ClipboardReader::read(std::unique_ptr<ClipboardTransfer> transfer) const {
    const Clock::time_point deadline = Clock::now() + m_limits.timeBudget;
    // The thread owns what it uses, so that the wait below may end before it does.
    auto result = std::make_shared<std::promise<ClipboardContents>>();
    std::future<ClipboardContents> answer = result->get_future();
    std::thread([transfer = std::move(transfer), limits = m_limits, deadline, result] {
        result->set_value(transferAll(*transfer, limits, deadline));
    }).detach();

    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (answer.wait_for(0s) == std::future_status::ready || Clock::now() > deadline + kGrace)
            loop.quit();
    });
    poll.start(5);
    if (answer.wait_for(0s) != std::future_status::ready)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (answer.wait_for(0s) != std::future_status::ready)
        return {{}, false};
    return answer.get();
}

} // namespace quill
