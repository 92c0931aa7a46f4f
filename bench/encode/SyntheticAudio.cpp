#include "encode/SyntheticAudio.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <random>

namespace veltrane::bench {

namespace {

// A prime number of frames, so that the repetition does not line up with AAC frames.
constexpr std::int64_t kTableFrames = 7 * SyntheticAudio::kSampleRateHz + 13;

} // namespace

SyntheticAudio::SyntheticAudio()
    : tableFrames_(kTableFrames), table_(static_cast<std::size_t>(kTableFrames * kChannelCount)) {
    std::mt19937 random(20240601);
    std::uniform_real_distribution<float> noise(-0.02f, 0.02f);
    for (std::int64_t frame = 0; frame < tableFrames_; ++frame) {
        const double t = static_cast<double>(frame) / kSampleRateHz;
        // A voice-like mix: a wobbling fundamental with overtones on the left, a chord on the right.
        const double fundamental = 180.0 + 40.0 * std::sin(2 * std::numbers::pi * 0.7 * t);
        const double left = 0.35 * std::sin(2 * std::numbers::pi * fundamental * t) +
                            0.15 * std::sin(2 * std::numbers::pi * 3 * fundamental * t) +
                            0.05 * std::sin(2 * std::numbers::pi * 7 * fundamental * t);
        const double right = 0.2 * std::sin(2 * std::numbers::pi * 261.6 * t) +
                             0.2 * std::sin(2 * std::numbers::pi * 329.6 * t) +
                             0.2 * std::sin(2 * std::numbers::pi * 392.0 * t);
        table_[static_cast<std::size_t>(2 * frame)] = static_cast<float>(left) + noise(random);
        table_[static_cast<std::size_t>(2 * frame + 1)] = static_cast<float>(right) + noise(random);
    }
}

void SyntheticAudio::copyFrames(std::int64_t firstFrame, std::int64_t frameCount, float* out) const {
    std::int64_t position = firstFrame % tableFrames_;
    while (frameCount > 0) {
        const std::int64_t run = std::min(frameCount, tableFrames_ - position);
        std::copy_n(table_.begin() + position * kChannelCount, run * kChannelCount, out);
        out += run * kChannelCount;
        frameCount -= run;
        position = 0;
    }
}

bool SyntheticAudio::writeRawFile(const std::filesystem::path& path, std::int64_t frameCount) const {
    const std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), &std::fclose);
    if (!file) {
        return false;
    }
    constexpr std::int64_t kBlockFrames = 1 << 16;
    std::vector<float> block(static_cast<std::size_t>(kBlockFrames * kChannelCount));
    for (std::int64_t written = 0; written < frameCount;) {
        const std::int64_t frames = std::min(kBlockFrames, frameCount - written);
        copyFrames(written, frames, block.data());
        const auto count = static_cast<std::size_t>(frames * kChannelCount);
        if (std::fwrite(block.data(), sizeof(float), count, file.get()) != count) {
            return false;
        }
        written += frames;
    }
    return true;
}

} // namespace veltrane::bench
