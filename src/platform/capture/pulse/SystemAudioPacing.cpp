#include "platform/capture/pulse/SystemAudioPacing.h"

#include <algorithm>
#include <limits>

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

SourceMixer::SourceMixer(std::uint32_t channels, std::int64_t idleFrames, std::int64_t maxBufferedFrames)
    : channels_(std::max<std::uint32_t>(channels, 1)), idleFrames_(idleFrames),
      maxBufferedFrames_(maxBufferedFrames) {}

void SourceMixer::addSource(std::uint32_t id, std::int64_t nowFrames) {
    Source& source = sources_[id];
    source.removed = false;
    source.lastPushAtFrames = nowFrames;
}

void SourceMixer::removeSource(std::uint32_t id) {
    const auto it = sources_.find(id);
    if (it == sources_.end()) {
        return;
    }
    if (it->second.samples.empty()) {
        sources_.erase(it);
    } else {
        it->second.removed = true;
    }
}

bool SourceMixer::hasSource(std::uint32_t id) const {
    const auto it = sources_.find(id);
    return it != sources_.end() && !it->second.removed;
}

std::size_t SourceMixer::sourceCount() const {
    return static_cast<std::size_t>(std::count_if(sources_.begin(), sources_.end(),
                                                  [](const auto& entry) { return !entry.second.removed; }));
}

void SourceMixer::push(std::uint32_t id, const float* samples, std::int64_t frames, std::int64_t nowFrames) {
    if (frames <= 0) {
        return;
    }
    Source& source = sources_[id];
    source.samples.insert(source.samples.end(), samples, samples + frames * channels_);
    source.lastPushAtFrames = nowFrames;
}

std::int64_t SourceMixer::available(const Source& source) const {
    return static_cast<std::int64_t>(source.samples.size() / channels_);
}

std::vector<float> SourceMixer::pull(std::int64_t nowFrames) {
    std::int64_t most = 0;
    std::int64_t leastActive = std::numeric_limits<std::int64_t>::max();
    for (const auto& [id, source] : sources_) {
        const std::int64_t frames = available(source);
        most = std::max(most, frames);
        const bool active = !source.removed && nowFrames - source.lastPushAtFrames < idleFrames_;
        if (active) {
            leastActive = std::min(leastActive, frames);
        }
    }
    if (most == 0) {
        return {};
    }
    const bool anyActive = leastActive != std::numeric_limits<std::int64_t>::max();
    const std::int64_t frames = (!anyActive || most > maxBufferedFrames_) ? most : leastActive;
    return mix(frames);
}

std::vector<float> SourceMixer::drain() {
    std::int64_t most = 0;
    for (const auto& [id, source] : sources_) {
        most = std::max(most, available(source));
    }
    return mix(most);
}

std::vector<float> SourceMixer::mix(std::int64_t frames) {
    if (frames <= 0) {
        return {};
    }
    std::vector<float> out(static_cast<std::size_t>(frames) * channels_, 0.0f);
    for (auto it = sources_.begin(); it != sources_.end();) {
        Source& source = it->second;
        const std::size_t count = std::min(out.size(), source.samples.size());
        for (std::size_t i = 0; i < count; ++i) {
            out[i] += source.samples[i];
        }
        source.samples.erase(source.samples.begin(),
                             source.samples.begin() + static_cast<std::ptrdiff_t>(count));
        if (source.removed && source.samples.empty()) {
            it = sources_.erase(it);
        } else {
            ++it;
        }
    }
    return out;
}

} // namespace veltrane
