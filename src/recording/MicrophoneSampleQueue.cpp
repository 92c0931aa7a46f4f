#include "recording/MicrophoneSampleQueue.h"

#include <algorithm>

namespace veltrane {

std::size_t MicrophoneSampleQueue::size() const {
    std::lock_guard lock(mutex_);
    return samples_.size();
}

bool MicrophoneSampleQueue::isMixing() const {
    std::lock_guard lock(mutex_);
    return isMixingLocked();
}

bool MicrophoneSampleQueue::isMixingLocked() const {
    return draining_ || samples_.size() >= std::max<std::size_t>(leadSamples_, 1);
}

std::size_t MicrophoneSampleQueue::take(std::size_t maxCount, std::vector<float>& out) {
    std::lock_guard lock(mutex_);
    if (!isMixingLocked()) {
        out.clear();
        return samples_.size();
    }
    if (!draining_ && leadSamples_ > 0 && samples_.size() > leadSamples_) {
        // Mixing starts with exactly the lead: what came earlier would only delay the voice.
        samples_.erase(samples_.begin(),
                       samples_.begin() + static_cast<std::ptrdiff_t>(samples_.size() - leadSamples_));
    }
    draining_ = true;
    const std::size_t count = std::min(maxCount, samples_.size());
    const auto end = samples_.begin() + static_cast<std::ptrdiff_t>(count);
    out.assign(samples_.begin(), end);
    samples_.erase(samples_.begin(), end);
    if (count < maxCount) {
        draining_ = false;
        ++underruns_;
    }
    return samples_.size();
}

std::int64_t MicrophoneSampleQueue::underruns() const {
    std::lock_guard lock(mutex_);
    return underruns_;
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
    draining_ = false;
    underruns_ = 0;
}

} // namespace veltrane
