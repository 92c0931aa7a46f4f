#include "recording/MicrophoneSampleQueue.h"

#include <gtest/gtest.h>
#include <numeric>

namespace veltrane {
namespace {

constexpr std::size_t kBound = 24000;

std::vector<float> ramp(std::size_t count, float start) {
    std::vector<float> values(count);
    std::iota(values.begin(), values.end(), start);
    return values;
}

TEST(MicrophoneSampleQueue, OverfullQueueIsCutSoExactlyTheBoundRemainsAfterTheAppend) {
    MicrophoneSampleQueue queue;
    queue.append(ramp(20000, 0), kBound);
    queue.append(ramp(10000, 20000), kBound); // 30000: appended untrimmed, was below the bound
    EXPECT_EQ(queue.size(), 30000u);
    queue.append(ramp(1000, 30000), kBound); // cut to 23000, then 24000
    EXPECT_EQ(queue.size(), 24000u);
    std::vector<float> taken;
    (void)queue.take(1, taken);
    EXPECT_EQ(taken, std::vector<float>{7000}); // the oldest 7000 were dropped
}

TEST(MicrophoneSampleQueue, StalledMixerLetsTheQueueExceedTheBoundByOneBufferAtMost) {
    MicrophoneSampleQueue queue;
    std::size_t largest = 0;
    for (int i = 0; i < 100; ++i) {
        queue.append(ramp(441, 0), kBound);
        largest = std::max(largest, queue.size());
    }
    EXPECT_LE(largest, kBound + 441);
    EXPECT_EQ(queue.size(), kBound); // steady state: exactly the bound after each append
}

TEST(MicrophoneSampleQueue, OneHugeBufferKeepsOnlyItsNewestSamples) {
    MicrophoneSampleQueue queue;
    queue.append(ramp(5000, 0), kBound);
    queue.append(ramp(100000, 1000000), kBound);
    EXPECT_EQ(queue.size(), kBound);
    std::vector<float> taken;
    EXPECT_EQ(queue.take(kBound, taken), 0u);
    EXPECT_EQ(taken.front(), 1000000 + 100000 - static_cast<float>(kBound));
    EXPECT_EQ(taken.back(), 1000000 + 99999);
}

TEST(MicrophoneSampleQueue, TakeMovesTheOldestAndReportsWhatRemains) {
    MicrophoneSampleQueue queue;
    queue.append(ramp(10, 0), kBound);
    std::vector<float> taken;
    EXPECT_EQ(queue.take(4, taken), 6u);
    EXPECT_EQ(taken, (std::vector<float>{0, 1, 2, 3}));
    EXPECT_EQ(queue.take(100, taken), 0u);
    EXPECT_EQ(taken.size(), 6u);
    queue.append(ramp(3, 0), kBound);
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
}

// Takes hand out nothing until the lead is queued, start with exactly the lead, and after a
// take that ran dry wait for the lead again without dropping anything; clearing starts over.
TEST(MicrophoneSampleQueue, MixingWaitsForTheLeadAtFirstAndAfterRunningDry) {
    struct Step {
        std::size_t append, taken, remaining;
        std::int64_t underruns;
    };
    MicrophoneSampleQueue queue({.minimumSamples = 1000, .beyondLargestBlockSamples = 0});
    std::vector<float> taken;
    for (const Step& step : {Step{600, 0, 600, 0}, Step{600, 480, 520, 0}, Step{0, 480, 40, 0},
                             Step{0, 40, 0, 1}, Step{480, 0, 480, 1}, Step{600, 480, 600, 1}}) {
        queue.append(ramp(step.append, 0), kBound);
        EXPECT_EQ(queue.take(480, taken), step.remaining);
        EXPECT_EQ(taken.size(), step.taken);
        EXPECT_EQ(queue.underruns(), step.underruns);
    }
    queue.clear();
    EXPECT_EQ(queue.underruns(), 0);
    queue.append(ramp(999, 0), kBound);
    EXPECT_FALSE(queue.isMixing());

    // A microphone that delivers in large blocks gets a larger lead.
    MicrophoneSampleQueue blocks({.minimumSamples = 100, .beyondLargestBlockSamples = 300});
    blocks.append(ramp(400, 0), kBound);
    EXPECT_EQ(blocks.leadSamples(), 700u);
    EXPECT_FALSE(blocks.isMixing());
    blocks.append(ramp(400, 400), kBound);
    EXPECT_EQ(blocks.take(800, taken), 0u);
    EXPECT_EQ(taken.front(), 100) << "started with exactly the lead";
}

} // namespace
} // namespace veltrane
