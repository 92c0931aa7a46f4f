#include "platform/dispatch/SerialQueue.h"

#include <pthread.h>

namespace veltrane {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([state = state_] { run(*state); });
    // Thread names are limited to 15 characters; the tail of the label is the telling part.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(thread_.native_handle(), name.c_str());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    if (!thread_.joinable()) {
        return; // shut down from one of its own tasks, which let the thread go then
    }
    if (isCurrent()) {
        // Destroyed from one of its own tasks: the thread keeps the state alive, runs what is
        // left and ends.
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::post(std::function<void()> task) {
    // Once the task is queued it may run and destroy this queue: use only the shared state.
    const std::shared_ptr<State> state = state_;
    {
        std::lock_guard lock(state->mutex);
        if (state->closed) {
            return;
        }
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
}

void SerialQueue::shutdown() {
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(state_->mutex);
        state_->closed = true;
        state_->stopping = true;
        dropped.swap(state_->tasks);
    }
    state_->wake.notify_all();
    state_->drained.notify_all();
    dropped.clear(); // their captures go here, outside the lock
    if (!thread_.joinable()) {
        return;
    }
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void SerialQueue::waitUntilDrained() {
    std::unique_lock lock(state_->mutex);
    state_->drained.wait(lock, [this] { return state_->tasks.empty() && !state_->busy; });
}

bool SerialQueue::isCurrent() const {
    return thread_.get_id() == std::this_thread::get_id();
}

void SerialQueue::run(State& state) {
    std::unique_lock lock(state.mutex);
    for (;;) {
        state.wake.wait(lock, [&state] { return state.stopping || !state.tasks.empty(); });
        if (state.tasks.empty()) {
            return; // stopping and nothing left to run
        }
        std::function<void()> task = std::move(state.tasks.front());
        state.tasks.pop_front();
        state.busy = true;
        lock.unlock();
        task();
        task = nullptr; // release captures before reporting the queue idle
        lock.lock();
        state.busy = false;
        if (state.tasks.empty()) {
            state.drained.notify_all();
        }
    }
}

void CallbackGate::close() {
    std::lock_guard lock(mutex_);
    open_ = false;
}

bool CallbackGate::isOpen() const {
    std::lock_guard lock(mutex_);
    return open_;
}

} // namespace veltrane
