#include "KeychainQueue.h"

#include "KeychainHelper.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace quill {

struct KeychainQueue::State {
    explicit State(SecretStore& store) : keychain(store) {}

    KeychainHelper keychain;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    std::deque<std::pair<Job, QObject*>> jobs;
    bool stopping = false;
    bool done = false;
};

void KeychainQueue::run(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    while (true) {
        state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
        if (state->stopping)
            break;
        auto [job, receiver] = std::move(state->jobs.front());
        state->jobs.pop_front();
        lock.unlock();
        Delivery delivery = job(state->keychain);
        lock.lock();
        // Under the lock: once the owner has set `stopping`, its receiver may be going away.
        if (delivery && !state->stopping)
            QMetaObject::invokeMethod(receiver, std::move(delivery), Qt::QueuedConnection);
    }
    state->done = true;
    state->finished.notify_all();
}

KeychainQueue::KeychainQueue(SecretStore& store) : m_state(std::make_shared<State>(store)) {
    std::thread(run, m_state).detach();
}

KeychainQueue::~KeychainQueue() {
    std::unique_lock lock(m_state->mutex);
    m_state->stopping = true;
    m_state->jobs.clear();
    m_state->wake.notify_all();
    m_state->finished.wait_for(lock, std::chrono::seconds(1), [this] { return m_state->done; });
}

void KeychainQueue::post(Job job, QObject* receiver) {
    std::lock_guard lock(m_state->mutex);
    m_state->jobs.emplace_back(std::move(job), receiver);
    m_state->wake.notify_all();
}

} // namespace quill
