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

// A serial execution queue: one thread of its own runs posted tasks one at a time, first in,
// first out. Destroying the queue runs every task already posted, then joins the thread.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();
    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    void post(std::function<void()> task);

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
    };

    static void run(State& state);

    std::string label_;
    std::shared_ptr<State> state_ = std::make_shared<State>();
    std::thread thread_;
};

} // namespace veltrane
