#include "platform/media/PcmBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrane {
namespace {

TEST(PcmBufferFormat, ReadsAndWritesLinearPcmDescriptions) {
    const PcmBuffer::Format int16{PcmCommonFormat::int16, 48000, 2, true};
    EXPECT_EQ(int16.streamDescription().formatFlags, 12u);
    EXPECT_EQ(PcmBuffer::Format::fromStreamDescription(int16.streamDescription()), int16);
    const PcmBuffer::Format floatPlanar{PcmCommonFormat::float32, 44100, 2, false};
    EXPECT_EQ(floatPlanar.streamDescription().formatFlags, 41u);
    EXPECT_EQ(PcmBuffer::Format::fromStreamDescription(floatPlanar.streamDescription()), floatPlanar);

    StreamDescription aac = int16.streamDescription();
    aac.formatID = kAudioFormatMPEG4AAC;
    StreamDescription bigEndian = int16.streamDescription();
    bigEndian.formatFlags |= kAudioFormatFlagIsBigEndian;
    StreamDescription unpacked = int16.streamDescription();
    unpacked.bytesPerFrame = 8; // 16-bit samples in 32-bit containers
    for (const StreamDescription& refused : {aac, bigEndian, unpacked}) {
        EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(refused));
    }
}

TEST(PcmBufferStorage, KeepsPlanesApartAndExposesOnlyItsSampleType) {
    EXPECT_FALSE(PcmBuffer::make({PcmCommonFormat::float32, 48000, 1, false}, 0));
    const auto buffer = PcmBuffer::make({PcmCommonFormat::float32, 48000, 3, false}, 8);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameLength(), 0u);
    buffer->setFrameLength(9);
    EXPECT_EQ(buffer->frameLength(), 8u);
    for (std::uint32_t channel = 0; channel < 3; ++channel) {
        std::fill_n(buffer->floatChannelData(channel), 8, static_cast<float>(channel));
    }
    EXPECT_EQ(buffer->floatChannelData(0)[7], 0.0f);
    EXPECT_EQ(buffer->floatChannelData(2)[0], 2.0f);
    EXPECT_EQ(buffer->floatChannelData(3), nullptr);
    EXPECT_EQ(buffer->int16ChannelData(0), nullptr);
    EXPECT_EQ(buffer->int32ChannelData(0), nullptr);
}

TEST(PcmBufferBorrowing, ViewsWholeFramesOfAlignedBytesWithoutCopying) {
    std::vector<std::int16_t> samples{1, -1, 2, -2, 3, -3, 4};
    const auto* bytes = reinterpret_cast<const std::byte*>(samples.data());
    const PcmBuffer::Format stereo{PcmCommonFormat::int16, 48000, 2, true};
    const auto view = PcmBuffer::borrowing(stereo, std::span<const std::byte>(bytes, 14));
    ASSERT_TRUE(view);
    EXPECT_EQ(view->frameLength(), 3u);
    EXPECT_EQ(view->int16ChannelData(0), samples.data());
    EXPECT_FALSE(PcmBuffer::borrowing(stereo, std::span<const std::byte>(bytes, 2)));
    EXPECT_FALSE(PcmBuffer::borrowing(stereo, std::span<const std::byte>(bytes + 1, 8)));
}

} // namespace
} // namespace veltrane
