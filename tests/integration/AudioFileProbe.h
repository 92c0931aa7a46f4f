#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::test {

// What a decoded audio file holds: its container's idea of the duration and the decoded
// samples mixed down to mono.
struct DecodedAudio {
    std::string codecName;
    int sampleRate = 0;
    int channels = 0;
    double durationSeconds = 0; // from the container
    std::vector<float> mono;    // decoded samples, channels averaged
};

// Decodes a whole file with libavformat/libavcodec; nothing when it cannot be read.
[[nodiscard]] std::optional<DecodedAudio> decodeAudioFile(const std::filesystem::path& path);

// Relative power of a sine of `frequencyHz` in `samples` (Goertzel), normalised so that a
// full-scale sine reads about 0.5 and silence 0.
[[nodiscard]] double tonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz);

// Mean of tonePower over consecutive windows of `windowSamples`: insensitive to a phase jump
// between windows (a dropped or repeated sample), which a whole-file measure would punish.
[[nodiscard]] double windowedTonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz,
                                       std::size_t windowSamples = 4800);

// Root mean square of the samples in [begin, end).
[[nodiscard]] double rms(const std::vector<float>& samples, std::size_t begin, std::size_t end);

} // namespace veltrane::test
