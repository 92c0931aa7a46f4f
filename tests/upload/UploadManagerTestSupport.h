#pragma once

#include "upload/UploadTiming.h"

#include <functional>
#include <utility>

namespace veltrane::test {

// Wall clock the test moves by hand.
class FakeUploadClock final : public UploadClock {
public:
    [[nodiscard]] ReferenceDate now() const override { return now_; }
    void advance(double seconds) { now_ = now_.addingSeconds(seconds); }

private:
    ReferenceDate now_{700000000.0};
};

// Retry timer the test fires by hand; remembers the last delay it was armed with.
class FakeRetryTimer final : public RetryTimer {
public:
    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override {
        delay_ = delay;
        fire_ = std::move(fire);
    }
    void cancel() override { fire_ = nullptr; }
    [[nodiscard]] bool isArmed() const override { return static_cast<bool>(fire_); }
    [[nodiscard]] std::chrono::milliseconds delay() const { return delay_; }
    void fire() {
        if (auto fire = std::exchange(fire_, nullptr)) {
            fire();
        }
    }

private:
    std::function<void()> fire_;
    std::chrono::milliseconds delay_{0};
};

} // namespace veltrane::test
