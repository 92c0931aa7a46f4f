#include "platform/capture/pulse/SilencePacer.h"

#include <algorithm>

namespace veltrane {

SilencePacer::SilencePacer(std::int64_t allowanceFrames, std::int64_t lagFrames)
    : allowanceFrames_(allowanceFrames), lagFrames_(std::min(lagFrames, allowanceFrames)) {}

std::int64_t SilencePacer::takeReal(std::int64_t frames, std::int64_t nowFrames) {
    const std::int64_t pts = emittedFrames_;
    emittedFrames_ += std::max<std::int64_t>(frames, 0);
    lastRealAtFrames_ = std::max(lastRealAtFrames_, nowFrames);
    filling_ = false;
    return pts;
}

std::int64_t SilencePacer::silenceDue(std::int64_t nowFrames) {
    if (!filling_) {
        const bool quiet = nowFrames - lastRealAtFrames_ >= allowanceFrames_;
        const bool behind = nowFrames - emittedFrames_ > allowanceFrames_;
        if (!quiet || !behind) {
            return 0;
        }
        filling_ = true;
    }
    return std::max<std::int64_t>(nowFrames - lagFrames_ - emittedFrames_, 0);
}

std::int64_t SilencePacer::takeSilence(std::int64_t frames) {
    const std::int64_t pts = emittedFrames_;
    emittedFrames_ += std::max<std::int64_t>(frames, 0);
    return pts;
}

} // namespace veltrane
