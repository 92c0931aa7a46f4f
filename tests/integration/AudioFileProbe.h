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

// A stretch of samples, [beginSample, endSample).
struct SampleRange {
    std::size_t beginSample = 0;
    std::size_t endSample = 0;
};

// Where a steady mix of sines of `frequenciesHz` is missing or broken: silence, a change of
// level, or a jump in phase (samples lost or repeated). Windows of `windowSamples`, each
// starting half a window after the previous one (so that a jump at any sample lies inside
// some window), are fitted by least squares with those sines. A window is broken when a sine's
// amplitude leaves half to twice its typical value (the median over all windows) or what the
// sines leave unexplained exceeds a twentieth of the weakest typical amplitude. Overlapping
// broken windows join into one stretch, less the half window at either end that only touched
// the break, so that a stretch is as long as the break to within half a window (a lone jump in
// phase reads as at most half a window). Judged against the file's own typical values: check
// separately that the tone is there at all.
[[nodiscard]] std::vector<SampleRange> toneBreaks(const std::vector<float>& samples, int sampleRate,
                                                  const std::vector<double>& frequenciesHz,
                                                  std::size_t windowSamples = 480);

// Root mean square of the samples in [begin, end).
[[nodiscard]] double rms(const std::vector<float>& samples, std::size_t begin, std::size_t end);

} // namespace veltrane::test
