#include "platform/media/PcmBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrane {
namespace {

TEST(PcmBufferFormat, ReadsAndWritesLinearPcmDescriptions) {
    const PcmBuffer::Format int16{PcmCommonFormat::int16, 48000, 2, true};
    for (const PcmBuffer::Format& format :
         {int16, PcmBuffer::Format{PcmCommonFormat::float32, 44100, 2, false}}) {
        EXPECT_EQ(PcmBuffer::Format::fromStreamDescription(format.streamDescription()), format);
    }

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
