#include "platform/capture/pulse/ControlThread.h"

#include <pthread.h>

namespace veltrane {

ControlThread::ControlThread(std::string name)
    : thread_([state = state_, name = std::move(name)] { run(state, name); }) {}

ControlThread::~ControlThread() {
    shutdown();
}

void ControlThread::post(std::function<void()> task) {
    // Once the task is queued it may run and destroy this object: use only the shared state.
    const std::shared_ptr<State> state = state_;
    {
        std::lock_guard lock(state->mutex);
        if (state->stopping) {
            return;
        }
        state->tasks.push_back(std::move(task));
    }
    state->wake.notify_one();
}

void ControlThread::shutdown() {
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->tasks.clear();
    }
    state_->wake.notify_one();
    if (!thread_.joinable()) {
        return;
    }
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

bool ControlThread::isCurrent() const {
    return thread_.get_id() == std::this_thread::get_id();
}

void ControlThread::run(const std::shared_ptr<State>& state, const std::string& name) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock lock(state->mutex);
            state->wake.wait(lock, [&] { return state->stopping || !state->tasks.empty(); });
            if (state->stopping) {
                return;
            }
            task = std::move(state->tasks.front());
            state->tasks.pop_front();
        }
        task();
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
