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
    if (samples.size() >= boundSamples) {
        const std::span<const float> newest = samples.subspan(samples.size() - boundSamples);
        samples_.assign(newest.begin(), newest.end());
        return;
    }
    const std::size_t count = samples_.size();
    if (count > boundSamples) {
        const std::size_t drop =
            count - boundSamples + samples.size(); // below `count`: the buffer is smaller than the bound
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
    }
    samples_.insert(samples_.end(), samples.begin(), samples.end());
}

void MicrophoneSampleQueue::clear() {
    std::lock_guard lock(mutex_);
    samples_.clear();
}

} // namespace veltrane
