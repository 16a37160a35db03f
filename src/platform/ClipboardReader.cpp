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

QList<ClipboardFormat> transferAll(ClipboardTransfer& transfer, const ClipboardReadLimits& limits,
                                   Clock::time_point deadline) {
    QList<ClipboardFormat> result;
    qsizetype total = 0;
    for (const QString& format : transfer.formats(deadline)) {
        if (Clock::now() >= deadline)
            break;
        const auto bytes =
            transfer.fetch(format, std::min(limits.maxFormatBytes, limits.maxTotalBytes - total), deadline);
        if (bytes && !bytes->isEmpty()) {
            total += bytes->size();
            result.append({format, *bytes});
        }
    }
    return result;
}

} // namespace

ClipboardReader::ClipboardReader(const ClipboardReadLimits& limits) : m_limits(limits) {}

QList<ClipboardFormat> ClipboardReader::read(std::unique_ptr<ClipboardTransfer> transfer) const {
    const Clock::time_point deadline = Clock::now() + m_limits.timeBudget;
    // The thread owns what it uses, so that the wait below may end before it does.
    auto result = std::make_shared<std::promise<QList<ClipboardFormat>>>();
    std::future<QList<ClipboardFormat>> answer = result->get_future();
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
        return {};
    return answer.get();
}

} // namespace quill
