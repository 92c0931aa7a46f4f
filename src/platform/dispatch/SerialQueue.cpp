#include "platform/dispatch/SerialQueue.h"

#include <pthread.h>

namespace veltrane {

SerialQueue::SerialQueue(std::string label) : label_(std::move(label)) {
    thread_ = std::thread([this] { run(); });
    // Thread names are limited to 15 characters; the tail of the label is the telling part.
    const std::string name = label_.size() > 15 ? label_.substr(label_.size() - 15) : label_;
    pthread_setname_np(thread_.native_handle(), name.c_str());
}

SerialQueue::~SerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.get_id() == std::this_thread::get_id()) {
        thread_.detach(); // destroyed from one of its own tasks: the loop ends after that task
    } else {
        thread_.join();
    }
}

void SerialQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void SerialQueue::waitUntilDrained() {
    std::unique_lock lock(mutex_);
    drained_.wait(lock, [this] { return tasks_.empty() && !busy_; });
}

bool SerialQueue::isCurrent() const {
    return thread_.get_id() == std::this_thread::get_id();
}

std::size_t SerialQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return tasks_.size() + (busy_ ? 1 : 0);
}

void SerialQueue::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) {
            return; // stopping and nothing left to run
        }
        std::function<void()> task = std::move(tasks_.front());
        tasks_.pop_front();
        busy_ = true;
        lock.unlock();
        task();
        task = nullptr; // release captures before reporting the queue idle
        lock.lock();
        busy_ = false;
        if (tasks_.empty()) {
            drained_.notify_all();
        }
    }
}

} // namespace veltrane
