#include "platform/capture/pulse/SilencePacer.h"

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

} // namespace
} // namespace veltrane
