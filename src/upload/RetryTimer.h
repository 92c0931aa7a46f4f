#pragma once

#include <chrono>
#include <functional>

namespace veltrane {

// One cancellable one-shot timer on the owner's thread, measured on a monotonic clock.
// Injected so that tests fire it at will.
class RetryTimer {
public:
    virtual ~RetryTimer() = default;
    // Arms the timer, replacing any armed one: `fire` runs once after `delay`.
    virtual void arm(std::chrono::milliseconds delay, std::function<void()> fire) = 0;
    // Disarms the timer; an armed `fire` never runs.
    virtual void cancel() = 0;
    [[nodiscard]] virtual bool isArmed() const = 0;
};

} // namespace veltrane
