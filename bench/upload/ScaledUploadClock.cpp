#include "upload/ScaledUploadClock.h"

namespace veltrane::bench {

ScaledUploadClock::ScaledUploadClock(double factor)
    : factor_(factor), start_(ReferenceDate::fromSystemTime(std::chrono::system_clock::now())) {}

ReferenceDate ScaledUploadClock::now() const {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - steadyStart_;
    return start_.addingSeconds(elapsed.count() * factor_);
}

} // namespace veltrane::bench
