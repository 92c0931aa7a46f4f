#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace veltrane {

// One thread that runs posted tasks in order: the platform thread on which capture objects
// do their blocking work and call their completions. Unlike a serial queue it may be shut
// down from one of its own tasks (a completion that releases its owner): the running task
// then finishes on its own and pending tasks are dropped.
class ControlThread {
public:
    explicit ControlThread(std::string name);
    ~ControlThread();
    ControlThread(const ControlThread&) = delete;
    ControlThread& operator=(const ControlThread&) = delete;

    // Ignored after shutdown().
    void post(std::function<void()> task);

    // Drops pending tasks and waits for the running one, unless called from it.
    void shutdown();

    [[nodiscard]] bool isCurrent() const;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> tasks;
        bool stopping = false;
    };

    static void run(const std::shared_ptr<State>& state, const std::string& name);

    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

// Lets work posted elsewhere (for example a buffer hand-off posted to a serial queue) run
// only while its owner is alive. The owner closes the gate in its destructor; once close()
// returns, no gated call is running on another thread and none will start. A gated call may
// itself close the gate (the lock is recursive).
class CallbackGate {
public:
    template <typename Fn> void runIfOpen(Fn&& fn) {
        std::lock_guard lock(mutex_);
        if (open_) {
            fn();
        }
    }

    void close();
    [[nodiscard]] bool isOpen() const;

private:
    mutable std::recursive_mutex mutex_;
    bool open_ = true;
};

} // namespace veltrane
