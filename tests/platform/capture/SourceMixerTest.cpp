#include "platform/capture/pulse/SourceMixer.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

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
