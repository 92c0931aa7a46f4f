#include "platform/capture/pulse/SystemAudioPacing.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

constexpr std::int64_t kAllowance = 12000; // 250 ms at 48 kHz
constexpr std::int64_t kLag = 960;         // 20 ms

// Filling wall-clock time with continuous times is shown end to end (CliRecord); here when it starts.
TEST(SilencePacer, SilenceIsDueOnlyOnceQuietAndBehindByMoreThanTheAllowance) {
    struct Case {
        const char* name;
        std::int64_t realFrames; // taken at realAt before asking
        std::int64_t realAt;
        std::int64_t now;
        std::int64_t due;
    };
    const Case cases[] = {
        {"at start", 0, 0, 0, 0},
        {"exactly the allowance after start", 0, 0, kAllowance, 0},
        {"past the allowance after start", 0, 0, kAllowance + 1, kAllowance + 1 - kLag},
        {"neither quiet nor behind", 48000, 48000, 48000 + kAllowance - 1, 0},
        {"quiet but exactly the allowance behind", 48000, 48000, 48000 + kAllowance, 0},
        {"quiet and behind", 48000, 48000, 48000 + kAllowance + 100, kAllowance + 100 - kLag},
        {"behind but not quiet", 960, 30000, 30100, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SilencePacer pacer(kAllowance, kLag);
        if (c.realFrames > 0) {
            (void)pacer.takeReal(c.realFrames, c.realAt);
        }
        EXPECT_EQ(pacer.silenceDue(c.now), c.due);
    }
}

constexpr std::int64_t kIdle = 4800;
constexpr std::int64_t kMaxBuffered = 4800;

std::vector<float> constant(std::int64_t frames, float value) {
    return std::vector<float>(static_cast<std::size_t>(frames) * 2, value);
}

TEST(SourceMixer, SumsWhereAllHaveAudioAndQuietOrRemovedSourcesDoNotHoldBack) {
    const auto a = constant(960, 0.25f);
    const auto b = constant(480, 0.5f);
    SourceMixer mixer(2, kIdle, kMaxBuffered);
    mixer.addSource(1, 0);
    mixer.addSource(2, 0);
    mixer.push(1, a.data(), 960, 10);
    mixer.push(2, b.data(), 480, 10);
    const auto first = mixer.pull(10);
    ASSERT_EQ(first.size(), 480u * 2);
    EXPECT_FLOAT_EQ(first.front(), 0.75f);
    EXPECT_FLOAT_EQ(first.back(), 0.75f);
    EXPECT_TRUE(mixer.pull(11).empty()) << "the rest of the first source waits for the second";
    mixer.push(2, b.data(), 100, 12);
    const auto out = mixer.drain();
    ASSERT_EQ(out.size(), 480u * 2);
    EXPECT_FLOAT_EQ(out[0], 0.75f);
    EXPECT_FLOAT_EQ(out[100 * 2], 0.25f);
    EXPECT_TRUE(mixer.drain().empty());

    // Source 2 is quiet (paused) from here on; then source 1 is removed.
    mixer.push(1, a.data(), 960, 100);
    EXPECT_TRUE(mixer.pull(100).empty()) << "the second source may still be on its way";
    EXPECT_EQ(mixer.pull(12 + kIdle), a); // source 2 last sent at 12
    mixer.push(1, a.data(), 960, kIdle + 20);
    mixer.removeSource(1);
    EXPECT_FALSE(mixer.hasSource(1));
    EXPECT_EQ(mixer.pull(kIdle + 21), a) << "what a removed source buffered is still given";
    EXPECT_TRUE(mixer.pull(kIdle + 22).empty());

    SourceMixer stalled(2, kIdle * 100, kMaxBuffered);
    stalled.addSource(1, 0);
    stalled.addSource(2, 0);
    const auto many = constant(kMaxBuffered + 1, 0.25f);
    stalled.push(1, many.data(), kMaxBuffered + 1, 1);
    EXPECT_EQ(stalled.pull(2).size(), many.size()) << "padded once too much is buffered, nothing dropped";
}

} // namespace
} // namespace veltrane
