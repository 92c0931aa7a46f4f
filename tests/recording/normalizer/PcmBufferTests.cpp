#include "platform/media/PcmBuffer.h"

#include <gtest/gtest.h>

#include <vector>

namespace veltrane {
namespace {

StreamDescription linearPcm(double rateHz, std::uint32_t channels, std::uint32_t flags, std::uint32_t bits) {
    StreamDescription description;
    description.sampleRate = rateHz;
    description.formatID = kAudioFormatLinearPCM;
    description.formatFlags = flags;
    description.channelsPerFrame = channels;
    description.bitsPerChannel = bits;
    const bool planar = (flags & kAudioFormatFlagIsNonInterleaved) != 0;
    description.bytesPerFrame = bits / 8 * (planar ? 1 : channels);
    description.bytesPerPacket = description.bytesPerFrame;
    description.framesPerPacket = 1;
    return description;
}

TEST(PcmBufferFormat, ReadsTheSupportedLinearPcmDescriptions) {
    const auto float32 =
        PcmBuffer::Format::fromStreamDescription(StreamDescription::interleavedFloat(44100, 2));
    ASSERT_TRUE(float32);
    EXPECT_EQ(*float32, (PcmBuffer::Format{PcmCommonFormat::Float32, 44100, 2, true}));

    const auto int16 = PcmBuffer::Format::fromStreamDescription(linearPcm(48000, 1, 12, 16));
    ASSERT_TRUE(int16);
    EXPECT_EQ(*int16, (PcmBuffer::Format{PcmCommonFormat::Int16, 48000, 1, true}));

    const auto int32Planar = PcmBuffer::Format::fromStreamDescription(linearPcm(16000, 2, 12 | 32, 32));
    ASSERT_TRUE(int32Planar);
    EXPECT_EQ(*int32Planar, (PcmBuffer::Format{PcmCommonFormat::Int32, 16000, 2, false}));
}

TEST(PcmBufferFormat, RefusesWhatItCannotHold) {
    StreamDescription aac = StreamDescription::interleavedFloat(48000, 2);
    aac.formatID = kAudioFormatMPEG4AAC;
    EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(aac));
    EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(linearPcm(48000, 2, 12 | 2, 16))); // big endian
    EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(linearPcm(48000, 2, 12, 24)));
    EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(linearPcm(48000, 0, 12, 16)));
    EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(linearPcm(0, 2, 9, 32)));
    StreamDescription unpacked = linearPcm(48000, 2, 4, 16);
    unpacked.bytesPerFrame = 8; // 16-bit samples in 32-bit containers
    EXPECT_FALSE(PcmBuffer::Format::fromStreamDescription(unpacked));
}

TEST(PcmBufferFormat, DescribesItselfAsLinearPcm) {
    const StreamDescription floatPlanar =
        PcmBuffer::Format{PcmCommonFormat::Float32, 48000, 2, false}.streamDescription();
    EXPECT_EQ(floatPlanar.formatFlags, 41u);
    EXPECT_EQ(floatPlanar.bitsPerChannel, 32u);
    EXPECT_EQ(floatPlanar.bytesPerFrame, 4u);
    EXPECT_EQ(floatPlanar.formatID, 1819304813u);

    const StreamDescription int16 =
        PcmBuffer::Format{PcmCommonFormat::Int16, 48000, 2, true}.streamDescription();
    EXPECT_EQ(int16.formatFlags, 12u);
    EXPECT_EQ(int16.bitsPerChannel, 16u);
    EXPECT_EQ(int16.bytesPerFrame, 4u);
    const auto back = PcmBuffer::Format::fromStreamDescription(int16);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, (PcmBuffer::Format{PcmCommonFormat::Int16, 48000, 2, true}));

    EXPECT_EQ((PcmBuffer::Format{PcmCommonFormat::Int16, 22050.5, 2, true}.description()),
              "<2 ch, 22050.5 Hz, Int16, interleaved>");
}

TEST(PcmBufferStorage, RefusesAnEmptyCapacityOrAnInvalidFormat) {
    EXPECT_FALSE(PcmBuffer::make({PcmCommonFormat::Float32, 48000, 1, false}, 0));
    EXPECT_FALSE(PcmBuffer::make({PcmCommonFormat::Float32, 0, 1, false}, 10));
    EXPECT_FALSE(PcmBuffer::make({PcmCommonFormat::Float32, 48000, 0, false}, 10));
}

TEST(PcmBufferStorage, StartsEmptyAndClampsTheFrameLengthToTheCapacity) {
    const auto buffer = PcmBuffer::make({PcmCommonFormat::Int16, 48000, 2, true}, 100);
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->frameCapacity(), 100u);
    EXPECT_EQ(buffer->frameLength(), 0u);
    buffer->setFrameLength(60);
    EXPECT_EQ(buffer->frameLength(), 60u);
    buffer->setFrameLength(101);
    EXPECT_EQ(buffer->frameLength(), 100u);
}

TEST(PcmBufferStorage, KeepsNonInterleavedChannelsInSeparatePlanes) {
    const auto buffer = PcmBuffer::make({PcmCommonFormat::Float32, 48000, 3, false}, 8);
    ASSERT_TRUE(buffer);
    for (std::uint32_t channel = 0; channel < 3; ++channel) {
        float* samples = buffer->floatChannelData(channel);
        ASSERT_NE(samples, nullptr);
        for (int i = 0; i < 8; ++i) {
            samples[i] = static_cast<float>(channel * 100 + i);
        }
    }
    EXPECT_EQ(buffer->floatChannelData(3), nullptr);
    for (std::uint32_t channel = 0; channel < 3; ++channel) {
        EXPECT_EQ(buffer->floatChannelData(channel)[0], static_cast<float>(channel * 100));
        EXPECT_EQ(buffer->floatChannelData(channel)[7], static_cast<float>(channel * 100 + 7));
    }
}

TEST(PcmBufferStorage, ExposesOnlyTheSampleTypeItHolds) {
    const auto interleaved = PcmBuffer::make({PcmCommonFormat::Int32, 48000, 2, true}, 4);
    ASSERT_TRUE(interleaved);
    EXPECT_NE(interleaved->int32ChannelData(0), nullptr);
    EXPECT_EQ(interleaved->int32ChannelData(1), nullptr); // one plane holds both channels
    EXPECT_EQ(interleaved->floatChannelData(0), nullptr);
    EXPECT_EQ(interleaved->int16ChannelData(0), nullptr);
}

TEST(PcmBufferBorrowing, ViewsTheBytesWithoutCopyingAndReadOnly) {
    std::vector<std::int16_t> samples{1, -1, 2, -2, 3, -3};
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(samples.data()),
                                           samples.size() * sizeof(std::int16_t));
    const auto view = PcmBuffer::borrowing({PcmCommonFormat::Int16, 48000, 2, true}, bytes);
    ASSERT_TRUE(view);
    EXPECT_EQ(view->frameLength(), 3u);
    EXPECT_EQ(view->frameCapacity(), 3u);
    EXPECT_EQ(view->int16ChannelData(0), samples.data());
    EXPECT_EQ(view->int16ChannelData(0)[5], -3);
}

TEST(PcmBufferBorrowing, RefusesBytesThatHoldNoWholeFrameOrAreMisaligned) {
    std::vector<float> samples(4, 0.0f);
    const auto* bytes = reinterpret_cast<const std::byte*>(samples.data());
    const PcmBuffer::Format stereo{PcmCommonFormat::Float32, 48000, 2, true};
    EXPECT_FALSE(PcmBuffer::borrowing(stereo, std::span<const std::byte>(bytes, 4)));
    EXPECT_FALSE(PcmBuffer::borrowing(stereo, std::span<const std::byte>(bytes + 1, 8)));
    const auto planar = PcmBuffer::borrowing({PcmCommonFormat::Float32, 48000, 2, false},
                                             std::span<const std::byte>(bytes, 16));
    ASSERT_TRUE(planar);
    EXPECT_EQ(planar->frameLength(), 2u);
    EXPECT_EQ(planar->floatChannelData(1), samples.data() + 2);
}

} // namespace
} // namespace veltrane
