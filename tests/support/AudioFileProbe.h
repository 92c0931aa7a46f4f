#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::test {

// What FFmpeg reads back from an audio file: the first audio stream's codec and parameters, the
// durations the container states, and the decoded audio.
struct DecodedAudio {
    std::string codecName;
    int sampleRate = 0;
    int channels = 0;
    double durationSeconds = 0;             // the stream's (else the container's) stated duration
    double startTimeSeconds = 0;            // the stream's start time
    std::vector<float> mono;                // decoded samples, channels averaged: one per frame
    std::vector<std::int16_t> int16Samples; // interleaved, for 16-bit PCM streams only
};

// Decodes a whole file with libavformat/libavcodec; nothing when it cannot be read.
[[nodiscard]] std::optional<DecodedAudio> decodeAudioFile(const std::filesystem::path& path);

// Relative power of a sine of `frequencyHz` in `samples` (Goertzel), normalised so that a
// full-scale sine reads about 0.5 and silence 0.
[[nodiscard]] double tonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz);

// Mean of tonePower over consecutive windows: insensitive to a phase jump between windows (a
// dropped or repeated sample), which a whole-file measure would punish.
[[nodiscard]] double windowedTonePower(const std::vector<float>& samples, int sampleRate, double frequencyHz,
                                       std::size_t windowSamples = 4800);

// A stretch of samples, [beginSample, endSample).
struct SampleRange {
    std::size_t beginSample = 0;
    std::size_t endSample = 0;
};

// Where a steady sine of `frequencyHz` is missing or broken: silence, a change of level or a jump
// in phase (samples lost or repeated). Windows of `windowSamples`, each starting half a window
// after the previous one, are fitted with that sine by least squares; a window is broken when its
// amplitude leaves half to twice the median amplitude or what the sine leaves unexplained exceeds
// a twentieth of it. Overlapping broken windows join into one stretch, less the half window at
// either end that only touched the break. Judged against the file's own median: check separately
// that the tone is there at all.
[[nodiscard]] std::vector<SampleRange> toneBreaks(const std::vector<float>& samples, int sampleRate,
                                                  double frequencyHz, std::size_t windowSamples = 480);

// Root mean square of the samples in [begin, end).
[[nodiscard]] double rms(const std::vector<float>& samples, std::size_t begin, std::size_t end);

} // namespace veltrane::test
