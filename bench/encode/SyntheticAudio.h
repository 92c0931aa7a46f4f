#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace veltrane::bench {

// Deterministic stereo 48 kHz float audio: a table of a few seconds of tones plus quiet
// noise (so that the AAC encoder has real work), repeated for as long as asked.
class SyntheticAudio {
public:
    static constexpr int kSampleRateHz = 48000;
    static constexpr int kChannelCount = 2;

    SyntheticAudio();

    // Copies `frameCount` interleaved frames starting at absolute frame `firstFrame` to `out`.
    void copyFrames(std::int64_t firstFrame, std::int64_t frameCount, float* out) const;
    // Writes `frameCount` frames from the start as raw little-endian float (ffmpeg's f32le).
    [[nodiscard]] bool writeRawFile(const std::filesystem::path& path, std::int64_t frameCount) const;

private:
    std::int64_t tableFrames_ = 0;
    std::vector<float> table_;
};

} // namespace veltrane::bench
