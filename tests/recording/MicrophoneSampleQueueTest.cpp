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

// Appends below the bound go in untrimmed (one buffer over at most); above it the oldest go
// first, so exactly the bound remains; one huge buffer keeps only its newest samples.
TEST(MicrophoneSampleQueue, OverfullQueueIsCutSoExactlyTheBoundRemainsAfterTheAppend) {
    struct Case {
        std::vector<std::size_t> appends;
        std::size_t size;
        float oldest;
    };
    const Case cases[] = {{{20000, 10000}, 30000, 0},
                          {{20000, 10000, 1000}, kBound, 7000},
                          {{5000, 100000}, kBound, 105000 - static_cast<float>(kBound)},
                          {std::vector<std::size_t>(100, 441), kBound, 44100 - static_cast<float>(kBound)}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.appends.size());
        MicrophoneSampleQueue queue;
        std::size_t appended = 0;
        for (const std::size_t count : c.appends) {
            queue.append(ramp(count, static_cast<float>(appended)), kBound);
            appended += count;
            EXPECT_LE(queue.size(), kBound + count);
        }
        EXPECT_EQ(queue.size(), c.size);
        std::vector<float> taken;
        EXPECT_EQ(queue.take(c.size, taken), 0u);
        EXPECT_EQ(taken.front(), c.oldest);
        EXPECT_EQ(taken.back(), static_cast<float>(appended - 1));
    }
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
    queue.append(ramp(kBound - 100, 0), kBound);
    queue.append(ramp(100, 0), kBound); // drops the oldest 600 of mixing's audio: counted
    EXPECT_EQ(queue.droppedSamples(), 600);
    queue.clear();
    EXPECT_EQ(queue.size(), 0u);
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
