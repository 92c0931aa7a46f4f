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

bool MicrophoneSampleQueue::lacksSamplesFor(std::size_t count) const {
    std::lock_guard lock(mutex_);
    return isMixingLocked() && samples_.size() < count;
}

bool MicrophoneSampleQueue::isMixingLocked() const {
    return draining_ || samples_.size() >= std::max<std::size_t>(leadLocked(), 1);
}

std::size_t MicrophoneSampleQueue::leadSamples() const {
    std::lock_guard lock(mutex_);
    return leadLocked();
}

std::size_t MicrophoneSampleQueue::leadLocked() const {
    const std::size_t beyondBlock =
        lead_.beyondLargestBlockSamples > 0 ? largestBlockSamples_ + lead_.beyondLargestBlockSamples : 0;
    const std::size_t wanted = std::max(lead_.minimumSamples, beyondBlock);
    return boundSamples_ > 0 ? std::min(wanted, boundSamples_) : wanted;
}

std::size_t MicrophoneSampleQueue::take(std::size_t maxCount, std::vector<float>& out) {
    std::lock_guard lock(mutex_);
    if (!isMixingLocked()) {
        out.clear();
        return samples_.size();
    }
    if (const std::size_t lead = leadLocked(); !started_ && lead > 0 && samples_.size() > lead) {
        // Mixing starts with exactly the lead: what came earlier would only delay the voice.
        samples_.erase(samples_.begin(),
                       samples_.begin() + static_cast<std::ptrdiff_t>(samples_.size() - lead));
    }
    started_ = true;
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

std::int64_t MicrophoneSampleQueue::droppedSamples() const {
    std::lock_guard lock(mutex_);
    return droppedSamples_;
}

void MicrophoneSampleQueue::append(std::span<const float> samples, std::size_t boundSamples) {
    std::lock_guard lock(mutex_);
    largestBlockSamples_ = std::max(largestBlockSamples_, samples.size());
    boundSamples_ = boundSamples;
    const std::size_t before = samples_.size();
    if (samples.size() >= boundSamples) {
        droppedSamples_ += started_ ? static_cast<std::int64_t>(before + samples.size() - boundSamples) : 0;
        const std::span<const float> newest = samples.subspan(samples.size() - boundSamples);
        samples_.assign(newest.begin(), newest.end());
        return;
    }
    if (before > boundSamples) {
        const std::size_t drop =
            before - boundSamples + samples.size(); // below `before`: the buffer is smaller than the bound
        droppedSamples_ += started_ ? static_cast<std::int64_t>(drop) : 0;
        samples_.erase(samples_.begin(), samples_.begin() + static_cast<std::ptrdiff_t>(drop));
    }
    samples_.insert(samples_.end(), samples.begin(), samples.end());
}

void MicrophoneSampleQueue::clear() {
    std::lock_guard lock(mutex_);
    samples_.clear();
    largestBlockSamples_ = 0;
    started_ = false;
    draining_ = false;
    underruns_ = 0;
    droppedSamples_ = 0;
}

} // namespace veltrane
