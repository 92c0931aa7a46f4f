#pragma once

#include "upload/UploadTiming.h"

#include <chrono>

namespace veltrane::bench {

// A wall clock that runs `factor` times faster than real time from the moment it is made, so
// that the upload manager's back-off deadlines pass sooner. Pair it with ScaledRetryTimer.
class ScaledUploadClock final : public UploadClock {
public:
    explicit ScaledUploadClock(double factor);
    [[nodiscard]] ReferenceDate now() const override;

private:
    double factor_ = 1.0;
    ReferenceDate start_;
    std::chrono::steady_clock::time_point steadyStart_ = std::chrono::steady_clock::now();
};

} // namespace veltrane::bench
