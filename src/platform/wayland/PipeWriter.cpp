#include "PipeWriter.h"

#include "PipeIo.h"

#include <chrono>
#include <csignal>
#include <pthread.h>
#include <thread>

namespace quill::wayland {
namespace {

constexpr auto kServeTimeout = std::chrono::seconds(5);

} // namespace

void serve(int writeEnd, QByteArray bytes) {
    std::thread([writeEnd, bytes = std::move(bytes)] {
        // A reader that closes early must not end the process with SIGPIPE.
        sigset_t pipeSignal;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
        writePipe(writeEnd, bytes, std::chrono::steady_clock::now() + kServeTimeout);
    }).detach();
}

} // namespace quill::wayland
