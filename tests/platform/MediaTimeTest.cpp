#include "platform/media/SampleBuffer.h"

#include <cmath>
#include <gtest/gtest.h>

using veltrane::MediaTime;
using veltrane::subtract;

TEST(MediaTime, SubtractionIsExactAcrossTimescalesAndNonFiniteOperandsGiveNonFiniteSeconds) {
    const MediaTime minute = subtract(MediaTime::make(65 * 48000, 48000), MediaTime::make(5 * 48000, 48000));
    EXPECT_EQ(minute.value, 60 * 48000);
    EXPECT_EQ(minute.timescale, 48000);
    EXPECT_DOUBLE_EQ(minute.seconds(), 60.0);
    const MediaTime mixed = subtract(MediaTime::make(3, 2), MediaTime::make(1, 3)); // 1.5 - 0.333...
    EXPECT_EQ(mixed.timescale, 6);
    EXPECT_EQ(mixed.value, 7);
    for (const MediaTime& exact : {minute, mixed}) {
        EXPECT_EQ(exact.flags & MediaTime::kHasBeenRounded, 0u);
    }
    EXPECT_LT(subtract(MediaTime::make(100, 48000), MediaTime::make(200, 48000)).seconds(), 0.0);

    const MediaTime valid = MediaTime::make(1, 1);
    const MediaTime infinite{0, 0, MediaTime::kValid | MediaTime::kPositiveInfinity, 0};
    EXPECT_TRUE(std::isnan(MediaTime::invalid().seconds()));
    EXPECT_FALSE(std::isfinite(subtract(valid, MediaTime::invalid()).seconds()));
    EXPECT_FALSE(std::isfinite(subtract(MediaTime::invalid(), valid).seconds()));
    EXPECT_TRUE(std::isinf(subtract(infinite, valid).seconds()));
    EXPECT_TRUE(std::isnan(subtract(infinite, infinite).seconds()));
}
