#pragma once

#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::test {

// What FFmpeg reads back from an audio file: the first audio stream's codec and parameters,
// the durations the container reports, and the decoded audio.
struct DecodedAudioFile {
    std::string codecName;
    int sampleRateHz = 0;
    int channelCount = 0;
    double streamDurationSeconds = 0; // the stream's duration, as ffprobe reports it
    double startTimeSeconds = 0;      // the stream's start time
    std::int64_t decodedFrames = 0;
    // Interleaved samples, for 16-bit PCM files only.
    std::vector<std::int16_t> int16Samples;

    [[nodiscard]] static std::expected<DecodedAudioFile, std::string> read(const std::filesystem::path& path);
};

} // namespace veltrane::test
