#include "platform/capture/pulse/SystemAudioPacing.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

constexpr std::int64_t kAllowance = 12000; // 250 ms at 48 kHz
constexpr std::int64_t kLag = 960;         // 20 ms

TEST(SilencePacer, NoSilenceWithinTheAllowanceAfterStart) {
    SilencePacer pacer(kAllowance, kLag);
    EXPECT_EQ(pacer.silenceDue(0), 0);
    EXPECT_EQ(pacer.silenceDue(kAllowance - 1), 0);
    EXPECT_EQ(pacer.silenceDue(kAllowance), 0) << "exactly the allowance behind is not yet late";
    EXPECT_EQ(pacer.silenceDue(kAllowance + 1), kAllowance + 1 - kLag);
}

TEST(SilencePacer, SilenceFillsUpToTheLagAndKeepsFollowingTheClock) {
    SilencePacer pacer(kAllowance, kLag);
    std::int64_t now = 20000;
    std::int64_t due = pacer.silenceDue(now);
    ASSERT_EQ(due, now - kLag);
    EXPECT_EQ(pacer.takeSilence(due), 0);
    EXPECT_EQ(pacer.emittedFrames(), now - kLag);
    // Once filling, every tick tops up to the lag, in small steps.
    now += 480;
    EXPECT_EQ(pacer.silenceDue(now), 480);
    EXPECT_EQ(pacer.takeSilence(480), 20000 - kLag);
    EXPECT_EQ(pacer.silenceDue(now), 0);
}

TEST(SilencePacer, RealAudioIsNeverHeldBackAndStopsTheFilling) {
    SilencePacer pacer(kAllowance, kLag);
    const std::int64_t silence = pacer.silenceDue(30000);
    (void)pacer.takeSilence(silence);
    ASSERT_TRUE(pacer.isFilling());
    // Real audio arrives while ahead of nothing: it is taken whole, right after the silence.
    EXPECT_EQ(pacer.takeReal(960, 30000), silence);
    EXPECT_FALSE(pacer.isFilling());
    EXPECT_EQ(pacer.emittedFrames(), silence + 960);
    // Even far ahead of the clock, real audio keeps being taken.
    EXPECT_EQ(pacer.takeReal(100000, 30010), silence + 960);
    EXPECT_EQ(pacer.emittedFrames(), silence + 960 + 100000);
    EXPECT_EQ(pacer.silenceDue(40000), 0);
}

TEST(SilencePacer, SteadyRealAudioNeverGetsSilence) {
    SilencePacer pacer(kAllowance, kLag);
    // 20 ms fragments arriving 40 ms late, for ten seconds.
    for (std::int64_t now = 1920; now < 480000; now += 960) {
        (void)pacer.takeReal(960, now);
        EXPECT_EQ(pacer.silenceDue(now), 0) << "at " << now;
    }
}

TEST(SilencePacer, SilenceStartsOnlyAfterTheAllowanceOfQuiet) {
    SilencePacer pacer(kAllowance, kLag);
    (void)pacer.takeReal(48000, 48000); // one second of audio, on time
    EXPECT_EQ(pacer.silenceDue(48000 + kAllowance - 1), 0);
    // Quiet for the allowance but not behind by more than it: nothing yet.
    EXPECT_EQ(pacer.silenceDue(48000 + kAllowance), 0);
    const std::int64_t now = 48000 + kAllowance + 100;
    EXPECT_EQ(pacer.silenceDue(now), now - kLag - 48000);
}

TEST(SilencePacer, PresentationTimesAreContinuousAcrossRealAndSilence) {
    SilencePacer pacer(kAllowance, kLag);
    std::int64_t expected = 0;
    std::int64_t now = 0;
    for (int round = 0; round < 20; ++round) {
        for (int i = 0; i < 10; ++i) {
            now += 960;
            EXPECT_EQ(pacer.takeReal(960, now), expected);
            expected += 960;
        }
        for (int i = 0; i < 40; ++i) {
            now += 480;
            for (std::int64_t due = pacer.silenceDue(now); due > 0;) {
                const std::int64_t frames = std::min<std::int64_t>(due, 480);
                EXPECT_EQ(pacer.takeSilence(frames), expected);
                expected += frames;
                due -= frames;
            }
        }
    }
    EXPECT_EQ(pacer.emittedFrames(), expected);
    EXPECT_LE(now - expected, kAllowance + 960) << "the stream stays with the clock";
}

constexpr std::int64_t kIdle = 4800;
constexpr std::int64_t kMaxBuffered = 4800;

std::vector<float> constant(std::int64_t frames, float value) {
    return std::vector<float>(static_cast<std::size_t>(frames) * 2, value);
}

TEST(SourceMixer, OneSourcePassesThroughAtOnce) {
    SourceMixer mixer(2, kIdle, kMaxBuffered);
    mixer.addSource(7, 0);
    const auto in = constant(960, 0.25f);
    mixer.push(7, in.data(), 960, 10);
    EXPECT_EQ(mixer.pull(10), in);
    EXPECT_TRUE(mixer.pull(20).empty());
}

TEST(SourceMixer, TwoSourcesAreSummedWhereBothHaveAudio) {
    SourceMixer mixer(2, kIdle, kMaxBuffered);
    mixer.addSource(1, 0);
    mixer.addSource(2, 0);
    const auto a = constant(960, 0.25f);
    const auto b = constant(480, 0.5f);
    mixer.push(1, a.data(), 960, 10);
    mixer.push(2, b.data(), 480, 10);
    const auto first = mixer.pull(10);
    ASSERT_EQ(first.size(), 480u * 2);
    EXPECT_FLOAT_EQ(first.front(), 0.75f);
    EXPECT_FLOAT_EQ(first.back(), 0.75f);
    // The rest of the first source waits for the second.
    EXPECT_TRUE(mixer.pull(11).empty());
    mixer.push(2, b.data(), 480, 12);
    const auto second = mixer.pull(12);
    ASSERT_EQ(second.size(), 480u * 2);
    EXPECT_FLOAT_EQ(second.front(), 0.75f);
}

TEST(SourceMixer, AQuietSourceDoesNotHoldTheOthersBack) {
    SourceMixer mixer(2, kIdle, kMaxBuffered);
    mixer.addSource(1, 0);
    mixer.addSource(2, 0); // paused: never sends
    const auto a = constant(960, 0.25f);
    mixer.push(1, a.data(), 960, 100);
    EXPECT_TRUE(mixer.pull(100).empty()) << "the second source may still be on its way";
    const auto out = mixer.pull(kIdle);
    ASSERT_EQ(out.size(), 960u * 2);
    EXPECT_FLOAT_EQ(out.front(), 0.25f);
}

TEST(SourceMixer, AStalledSourceIsPaddedOnceTooMuchIsBuffered) {
    SourceMixer mixer(2, kIdle * 100, kMaxBuffered);
    mixer.addSource(1, 0);
    mixer.addSource(2, 0);
    const auto a = constant(kMaxBuffered + 1, 0.25f);
    mixer.push(1, a.data(), kMaxBuffered + 1, 1);
    mixer.push(2, a.data(), 0, 1);
    const auto out = mixer.pull(2);
    EXPECT_EQ(out.size(), a.size()) << "nothing is dropped";
}

TEST(SourceMixer, ARemovedSourceIsDrainedThenForgotten) {
    SourceMixer mixer(2, kIdle, kMaxBuffered);
    mixer.addSource(1, 0);
    const auto a = constant(480, 0.25f);
    mixer.push(1, a.data(), 480, 1);
    mixer.removeSource(1);
    EXPECT_FALSE(mixer.hasSource(1));
    EXPECT_EQ(mixer.sourceCount(), 0u);
    EXPECT_EQ(mixer.pull(2), a);
    EXPECT_TRUE(mixer.pull(3).empty());
}

TEST(SourceMixer, DrainGivesEverythingBuffered) {
    SourceMixer mixer(2, kIdle, kMaxBuffered);
    mixer.addSource(1, 0);
    mixer.addSource(2, 0);
    const auto a = constant(100, 0.25f);
    const auto b = constant(300, 0.5f);
    mixer.push(1, a.data(), 100, 1);
    mixer.push(2, b.data(), 300, 1);
    const auto out = mixer.drain();
    ASSERT_EQ(out.size(), 300u * 2);
    EXPECT_FLOAT_EQ(out[0], 0.75f);
    EXPECT_FLOAT_EQ(out[299 * 2], 0.5f);
    EXPECT_TRUE(mixer.drain().empty());
}

} // namespace
} // namespace veltrane
