#include "recording/AudioNormalizer.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace veltrane {
namespace {

constexpr double kInputRateHz = 44100;
constexpr double kOutputRateHz = 48000;
constexpr double kToneHz = 1000;
constexpr double kAmplitude = 0.5;
constexpr std::size_t kInputFrames = 44100; // one second

// One second of a 1000 Hz stereo int16 tone at 44100 Hz, cut into buffers of uneven sizes
// the way a microphone delivers it, each run through makePCMBuffer, convert and monoSamples.
class SineStream : public ::testing::Test {
protected:
    void SetUp() override {
        const StreamDescription description =
            PcmBuffer::Format{PcmCommonFormat::int16, kInputRateHz, 2, true}.streamDescription();
        const std::array<std::size_t, 5> sizes{441, 512, 1000, 37, 960};
        std::size_t done = 0;
        for (std::size_t index = 0; done < kInputFrames; ++index) {
            const std::size_t frames = std::min(sizes[index % sizes.size()], kInputFrames - done);
            std::vector<std::int16_t> samples(frames * 2);
            for (std::size_t i = 0; i < frames; ++i) {
                const double t = static_cast<double>(done + i) / kInputRateHz;
                const auto value = static_cast<std::int16_t>(
                    std::lround(kAmplitude * 32767.0 * std::sin(2 * std::numbers::pi * kToneHz * t)));
                samples[2 * i] = value;
                samples[2 * i + 1] = value;
            }
            std::vector<std::byte> bytes(samples.size() * sizeof(std::int16_t));
            std::memcpy(bytes.data(), samples.data(), bytes.size());
            const SampleBuffer sampleBuffer(description, std::move(bytes), static_cast<std::int64_t>(frames),
                                            MediaTime::invalid());
            const PcmBufferPtr converted = normalizer.convert(AudioNormalizer::makePCMBuffer(sampleBuffer));
            ASSERT_TRUE(converted) << "buffer " << index;
            EXPECT_EQ(converted->format(),
                      (PcmBuffer::Format{PcmCommonFormat::float32, kOutputRateHz, 2, false}));
            const std::vector<float> mono = AudioNormalizer::monoSamples(*converted);
            output.insert(output.end(), mono.begin(), mono.end());
            done += frames;
        }
    }

    AudioNormalizer normalizer;
    std::vector<float> output;
};

TEST_F(SineStream, KeepsTheLengthApartFromTheConvertersDelay) {
    const double expected = static_cast<double>(kInputFrames) * kOutputRateHz / kInputRateHz;
    EXPECT_LE(static_cast<double>(output.size()), expected + 1);
    EXPECT_GE(static_cast<double>(output.size()), expected - 64);
    EXPECT_EQ(normalizer.converterCount(), 1u);
}

TEST_F(SineStream, HasNoStepLargerThanTheTonesOwn) {
    const double largestToneStep = kAmplitude * 2 * std::numbers::pi * kToneHz / kOutputRateHz;
    // The tone starts abruptly at the first sample; the resampler's filter smooths that start
    // over its first few dozen output samples, which are left out.
    double largestStep = 0;
    for (std::size_t i = 64; i < output.size(); ++i) {
        largestStep = std::max(largestStep, std::abs(static_cast<double>(output[i]) - output[i - 1]));
    }
    EXPECT_LT(largestStep, largestToneStep * 1.02);
    EXPECT_GT(largestStep, largestToneStep * 0.9);
}

TEST_F(SineStream, KeepsTheTonesFrequencyAndLevel) {
    // Skip the converter's start-up; count rising zero crossings over whole periods.
    const std::size_t first = 480;
    const std::size_t count = 48 * 900; // 900 periods of 48 samples
    ASSERT_GE(output.size(), first + count);
    int rising = 0;
    float peak = 0;
    for (std::size_t i = first + 1; i <= first + count; ++i) {
        if (output[i - 1] < 0 && output[i] >= 0) {
            ++rising;
        }
        peak = std::max(peak, std::abs(output[i]));
    }
    EXPECT_NEAR(rising, 900, 1);
    EXPECT_NEAR(peak, kAmplitude, 0.01);

    // Power at the tone against power half a tone away (single-bin DFTs).
    const auto power = [&](double frequencyHz) {
        double re = 0;
        double im = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const double phase = 2 * std::numbers::pi * frequencyHz * static_cast<double>(i) / kOutputRateHz;
            re += output[first + i] * std::cos(phase);
            im += output[first + i] * std::sin(phase);
        }
        return re * re + im * im;
    };
    EXPECT_GT(power(kToneHz), 1e4 * power(kToneHz * 1.06));
    EXPECT_GT(power(kToneHz), 1e4 * power(kToneHz * 0.94));
}

} // namespace
} // namespace veltrane
