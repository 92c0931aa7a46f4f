#include "recording/SystemAudioIntake.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numbers>

namespace veltrane {
namespace {

// An intake with recorded level reports and its own microphone queue.
class IntakeFixture : public ::testing::Test {
protected:
    MicrophoneSampleQueue micQueue;
    std::atomic<float> microphoneGain{1.0f};
    std::atomic<bool> samplesWritten{false};
    std::vector<double> systemLevels, micLevels, audioLevels;
    SystemAudioIntake intake{micQueue, microphoneGain, samplesWritten,
                             SystemAudioIntake::LevelSink{[this](double v) { systemLevels.push_back(v); },
                                                          [this](double v) { micLevels.push_back(v); },
                                                          [this](double v) { audioLevels.push_back(v); }}};

    static SampleBuffer makeBuffer(const void* bytes, std::size_t length, std::uint32_t flags,
                                   std::uint32_t channels, MediaTime pts = MediaTime::make(4800, 48000)) {
        std::vector<std::byte> data(length);
        if (length > 0) {
            std::memcpy(data.data(), bytes, length); // null data with no bytes is still undefined
        }
        StreamDescription format;
        format.sampleRate = 48000;
        format.formatID = kAudioFormatLinearPCM;
        format.formatFlags = flags;
        format.channelsPerFrame = channels;
        return SampleBuffer(format, std::move(data), 0, pts);
    }

    static SampleBuffer stereoFloat(const std::vector<float>& samples) {
        return makeBuffer(samples.data(), samples.size() * 4,
                          kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 2);
    }

    static std::vector<float> floatsOf(const SampleBuffer& buffer) {
        std::vector<float> out(buffer.data().size() / 4);
        std::memcpy(out.data(), buffer.data().data(), out.size() * 4);
        return out;
    }

    void queueMic(std::size_t count, float value) {
        micQueue.append(std::vector<float>(count, value), 1'000'000);
    }
};

TEST_F(IntakeFixture, Int16InterleavedBecomesScaledFloatsWithTheSamePresentationTime) {
    const std::vector<std::int16_t> values = {-32768, -1, 0, 1, 16384, 32767};
    const MediaTime pts{123456, 48000, MediaTime::kValid | MediaTime::kHasBeenRounded, 7};
    const SampleBufferPtr output = intake.processSystemAudio(
        makeBuffer(values.data(), values.size() * 2, kAudioFormatFlagIsSignedInteger, 2, pts), false, 1.0f);
    ASSERT_TRUE(output);
    EXPECT_EQ(output->numSamples(), 3);
    EXPECT_EQ(output->presentationTime(), pts);
    EXPECT_EQ(*output->format(), StreamDescription::interleavedFloat(48000.0, 2));
    EXPECT_EQ(floatsOf(*output),
              (std::vector<float>{-1.0f, -1 / 32768.f, 0.0f, 1 / 32768.f, 0.5f, 32767 / 32768.f}));
}

TEST_F(IntakeFixture, PlanarInputIsInterleavedFrameByFrame) {
    const std::vector<std::int16_t> ints = {1, 2, 3, 10, 20, 30, 99}; // 3 frames per plane, one left over
    EXPECT_EQ(
        floatsOf(*intake.processSystemAudio(
            makeBuffer(ints.data(), ints.size() * 2, kAudioFormatFlagIsNonInterleaved, 2), false, 1.0f)),
        (std::vector<float>{1 / 32768.f, 10 / 32768.f, 2 / 32768.f, 20 / 32768.f, 3 / 32768.f,
                            30 / 32768.f}));
}

TEST_F(IntakeFixture, GainsApplyAndTheMicrophoneIsAddedToBothChannelsClipped) {
    EXPECT_EQ(floatsOf(*intake.processSystemAudio(stereoFloat({0.5f, -0.25f}), false, 0.5f)),
              (std::vector<float>{0.25f, -0.125f}));
    queueMic(3, 0.5f);
    microphoneGain = 0.5f;
    EXPECT_EQ(floatsOf(*intake.processSystemAudio(stereoFloat({0.1f, 0.1f, 0.1f, 0.1f}), true, 1.0f)),
              (std::vector<float>{0.35f, 0.35f, 0.35f, 0.35f}));
    EXPECT_EQ(micQueue.size(), 1u);
    microphoneGain = 1.0f;
    queueMic(1, -0.5f);
    EXPECT_EQ(floatsOf(*intake.processSystemAudio(stereoFloat({0.8f, 0.8f, -0.8f, -0.8f}), true, 1.0f)),
              (std::vector<float>{1.0f, 1.0f, -1.0f, -1.0f}));
    EXPECT_GT(micLevels.back(), 0.0);
    (void)intake.processSystemAudio(stereoFloat({0.5f, 0.5f}), false, 1.0f);
    EXPECT_EQ(micLevels.back(), 0.0) << "no mixing, a silent microphone level";
}

TEST_F(IntakeFixture, LevelsAreLinearInDecibelsFromMinus60ToFullScale) {
    std::vector<float> sine(48000);
    for (std::size_t i = 0; i < sine.size(); ++i) {
        sine[i] = 0.5f * static_cast<float>(
                             std::sin(2 * std::numbers::pi * 440.0 * static_cast<double>(i) / 48000.0));
    }
    const std::pair<std::vector<float>, double> levels[] = {{std::vector<float>(4096, 0.0f), 0.0},
                                                            {{}, 0.0},
                                                            {std::vector<float>(4096, 1.0f), 1.0},
                                                            {std::vector<float>(10, 0.01f), 1.0 / 3.0},
                                                            {sine, 0.85}}; // -40 dBFS reads a third
    for (const auto& [samples, level] : levels) {
        EXPECT_NEAR(SystemAudioIntake::computeLevel(samples), level, 0.01) << samples.size();
    }
    intake.meterOutput(stereoFloat(std::vector<float>(960, 1.0f)));
    EXPECT_EQ(audioLevels, std::vector<double>{1.0});
}

TEST_F(IntakeFixture, UnreadableInputGivesNoOutput) {
    const float one = 1.0f;
    EXPECT_FALSE(intake.processSystemAudio(makeBuffer(&one, 4, kAudioFormatFlagIsFloat, 0), false, 1.0f));
    EXPECT_FALSE(intake.processSystemAudio(makeBuffer(&one, 0, kAudioFormatFlagIsFloat, 2), false, 1.0f));
    EXPECT_FALSE(intake.processSystemAudio(
        SampleBuffer(std::nullopt, std::vector<std::byte>(8), 1, MediaTime::make(0, 1)), false, 1.0f));
}

} // namespace
} // namespace veltrane
