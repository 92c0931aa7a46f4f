#include "recording/SilenceWatch.h"

namespace veltrane {

bool SilenceWatch::feed(double systemLevel, double micLevel, std::chrono::steady_clock::time_point now) {
    if (systemLevel > 0 || micLevel > 0) {
        silentSince_.reset();
        return false;
    }
    if (!silentSince_) {
        silentSince_ = now;
    }
    return now - *silentSince_ >= limit_;
}

} // namespace veltrane
