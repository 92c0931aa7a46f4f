#include "storage/FinalizationTracker.h"

namespace veltrane {

void FinalizationTracker::begin() {
    std::lock_guard lock(mutex_);
    ++pending_;
}

void FinalizationTracker::end() {
    std::vector<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        if (pending_ > 0) {
            --pending_;
        }
        if (pending_ == 0) {
            ready.swap(waiting_);
        }
    }
    for (const auto& callback : ready) {
        callback();
    }
}

void FinalizationTracker::whenIdle(std::function<void()> callback) {
    {
        std::lock_guard lock(mutex_);
        if (pending_ > 0) {
            waiting_.push_back(std::move(callback));
            return;
        }
    }
    callback();
}

} // namespace veltrane
