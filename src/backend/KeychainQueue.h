#pragma once

#include <QObject>
#include <functional>
#include <memory>

namespace quill {

class KeychainHelper;
class SecretStore;

// Runs keyring calls one after another on a thread of their own, so that a slow keyring, or one
// waiting for the user to answer its unlock prompt, never holds up the interface.
class KeychainQueue {
public:
    // What a job hands back to run on the receiver's thread; empty for nothing.
    using Delivery = std::function<void()>;
    using Job = std::function<Delivery(KeychainHelper&)>;

    explicit KeychainQueue(SecretStore& store);
    // Drops the jobs not started. A call waiting for an unlock prompt cannot be cancelled
    // (libsecret and gnome-keyring fail when one is), so the thread is left to end on its own
    // after a short wait; nothing it finishes is delivered any more.
    ~KeychainQueue();
    KeychainQueue(const KeychainQueue&) = delete;
    KeychainQueue& operator=(const KeychainQueue&) = delete;

    // Runs `job` after the jobs posted before it, and what it returns on `receiver`'s thread
    // through its event queue. `receiver` must outlive the queue.
    void post(Job job, QObject* receiver);

private:
    struct State;
    static void run(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state;
};

} // namespace quill
