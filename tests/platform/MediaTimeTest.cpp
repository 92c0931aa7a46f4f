#include "platform/media/SampleBuffer.h"

#include <cmath>
#include <gtest/gtest.h>

using veltrane::MediaTime;
using veltrane::subtract;

// Same-timescale differences time every chunk end to end (CliRecord); here the mixed and non-finite.
TEST(MediaTime, SubtractionIsExactAcrossTimescalesAndNonFiniteOperandsGiveNonFiniteSeconds) {
    const MediaTime mixed = subtract(MediaTime::make(3, 2), MediaTime::make(1, 3)); // 1.5 - 0.333...
    EXPECT_EQ(mixed.timescale, 6);
    EXPECT_EQ(mixed.value, 7);
    EXPECT_EQ(mixed.flags & MediaTime::kHasBeenRounded, 0u);
    const MediaTime valid = MediaTime::make(1, 1);
    const MediaTime infinite{0, 0, MediaTime::kValid | MediaTime::kPositiveInfinity, 0};
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
    EXPECT_FALSE(std::isfinite(subtract(valid, MediaTime::invalid()).seconds()));
    EXPECT_FALSE(std::isfinite(subtract(MediaTime::invalid(), valid).seconds()));
    EXPECT_TRUE(std::isinf(subtract(infinite, valid).seconds()));
    EXPECT_TRUE(std::isnan(subtract(infinite, infinite).seconds()));
}
