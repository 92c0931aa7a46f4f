#include "platform/media/SampleBuffer.h"

#include <cmath>
#include <gtest/gtest.h>

using veltrane::MediaTime;
using veltrane::subtract;

TEST(MediaTime, SubtractSameTimescaleIsExact) {
    const MediaTime a = MediaTime::make(65 * 48000, 48000);
    const MediaTime b = MediaTime::make(5 * 48000, 48000);
    const MediaTime d = subtract(a, b);
    EXPECT_EQ(d.value, 60 * 48000);
    EXPECT_EQ(d.timescale, 48000);
    EXPECT_DOUBLE_EQ(d.seconds(), 60.0);
    EXPECT_EQ(d.flags & MediaTime::HasBeenRounded, 0u);
}

TEST(MediaTime, SubtractAcrossTimescalesUsesCommonMultiple) {
    const MediaTime d = subtract(MediaTime::make(3, 2), MediaTime::make(1, 3)); // 1.5 - 0.333...
    EXPECT_EQ(d.timescale, 6);
    EXPECT_EQ(d.value, 7);
    EXPECT_EQ(d.flags & MediaTime::HasBeenRounded, 0u);
}

TEST(MediaTime, NegativeDifferenceStaysNegative) {
    EXPECT_LT(subtract(MediaTime::make(100, 48000), MediaTime::make(200, 48000)).seconds(), 0.0);
}

TEST(MediaTime, InvalidOperandsGiveNonFiniteSeconds) {
    const MediaTime valid = MediaTime::make(1, 1);
    EXPECT_FALSE(std::isfinite(subtract(valid, MediaTime::invalid()).seconds()));
    EXPECT_FALSE(std::isfinite(subtract(MediaTime::invalid(), valid).seconds()));
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
    const MediaTime infinite{0, 0, MediaTime::Valid | MediaTime::PositiveInfinity, 0};
    EXPECT_TRUE(std::isinf(subtract(infinite, valid).seconds()));
    EXPECT_TRUE(std::isnan(subtract(infinite, infinite).seconds()));
}
