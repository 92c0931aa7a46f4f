#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace veltrane {

// A serial execution queue: one thread of its own, named after the label (its last 15
// characters), runs posted tasks one at a time, first in, first out. It is the one way this
// program runs work off the main thread in order: the recorder's processing, starting a
// microphone, the sound-server work of the capture objects, and each open chunk's encoding.
//
// Any thread may post. Destroying the queue runs every task already posted (and those they
// post), then joins the thread; shutdown() instead drops what has not started. The queue may be
// destroyed or shut down by one of its own tasks: that task then finishes on its own.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Ignored after shutdown().
    void post(std::function<void()> task);

    // Drops the tasks not yet started, ignores later posts and waits for the running task,
    // unless called from it. For owners whose pending tasks must not outlive them.
    void shutdown();

    // Blocks until every task posted before this call has run. Must not be called from the
    // queue's own thread.
    void waitUntilDrained();

    // True when called from a task running on this queue.
    [[nodiscard]] bool isCurrent() const;
    [[nodiscard]] const std::string& label() const { return label_; }

private:
    // Shared by the queue and its thread, so that a queue destroyed by one of its own tasks leaves
    // the thread something to finish with.
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::condition_variable drained;
        std::deque<std::function<void()>> tasks;
        bool busy = false;
        bool stopping = false;
        bool closed = false; // shut down: no more tasks are taken
    };

    static void run(State& state);

    std::string label_;
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
