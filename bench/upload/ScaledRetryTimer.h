#pragma once

#include "upload/UploadTiming.h"

namespace veltrane::bench {

// A retry timer whose delays are `factor` times shorter than asked; pairs with ScaledUploadClock.
class ScaledRetryTimer final : public RetryTimer {
public:
    explicit ScaledRetryTimer(double factor) : factor_(factor) {}
    void arm(std::chrono::milliseconds delay, std::function<void()> fire) override;
    void cancel() override { timer_.cancel(); }
    [[nodiscard]] bool isArmed() const override { return timer_.isArmed(); }

private:
    double factor_ = 1.0;
    QtRetryTimer timer_;
};

} // namespace veltrane::bench
