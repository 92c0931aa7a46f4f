#include "upload/ScaledRetryTimer.h"

#include <cmath>

namespace veltrane::bench {

void ScaledRetryTimer::arm(std::chrono::milliseconds delay, std::function<void()> fire) {
    const auto scaledMs = static_cast<std::int64_t>(std::ceil(static_cast<double>(delay.count()) / factor_));
    timer_.arm(std::chrono::milliseconds(scaledMs), std::move(fire));
}

} // namespace veltrane::bench
