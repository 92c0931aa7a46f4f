#include "recording/MicrophoneSampleQueue.h"

#include <algorithm>

namespace veltrane {

std::size_t MicrophoneSampleQueue::size() const {
    std::lock_guard lock(mutex_);
    return samples_.size();
}

std::size_t MicrophoneSampleQueue::take(std::size_t maxCount, std::vector<float>& out) {
    std::lock_guard lock(mutex_);
    const std::size_t count = std::min(maxCount, samples_.size());
    const auto end = samples_.begin() + static_cast<std::ptrdiff_t>(count);
    out.assign(samples_.begin(), end);
    samples_.erase(samples_.begin(), end);
    return samples_.size();
}

void MicrophoneSampleQueue::append(std::span<const float> samples, std::size_t boundSamples) {
    std::lock_guard lock(mutex_);
    // Only the newest `boundSamples` can survive the trim, so never copy more than that.
    const std::span<const float> kept =
        samples.size() > boundSamples ? samples.subspan(samples.size() - boundSamples) : samples;
    samples_.insert(samples_.end(), kept.begin(), kept.end());
    if (samples_.size() > boundSamples) {
        samples_.erase(samples_.begin(),
                       samples_.begin() + static_cast<std::ptrdiff_t>(samples_.size() - boundSamples));
    }
}

void MicrophoneSampleQueue::clear() {
    std::lock_guard lock(mutex_);
    samples_.clear();
}

} // namespace veltrane
