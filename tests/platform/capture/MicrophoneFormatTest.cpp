#include "platform/capture/pulse/PulseMicrophoneCapture.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(MicrophoneFormat, SixteenBitDevicesGiveSixteenBitIntegers) {
    const auto format = MicrophoneFormat::forDevice("s16le", 44100, 1);
    EXPECT_EQ(format.encoding, MicrophoneFormat::Encoding::int16);
    const StreamDescription& d = format.description;
    EXPECT_EQ(d.sampleRate, 44100.0);
    EXPECT_EQ(d.formatID, kAudioFormatLinearPCM);
    EXPECT_EQ(d.formatFlags, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked);
    EXPECT_EQ(d.bitsPerChannel, 16u);
    EXPECT_EQ(d.channelsPerFrame, 1u);
    EXPECT_EQ(d.bytesPerFrame, 2u);
    EXPECT_EQ(d.bytesPerPacket, 2u);
    EXPECT_EQ(d.framesPerPacket, 1u);
    EXPECT_EQ(format.bytesPerSample(), 2u);
    EXPECT_EQ(MicrophoneFormat::forDevice("s16be", 48000, 2).encoding, MicrophoneFormat::Encoding::int16);
}

TEST(MicrophoneFormat, FloatDevicesGiveInterleavedFloat) {
    const auto format = MicrophoneFormat::forDevice("float32le", 48000, 2);
    EXPECT_EQ(format.encoding, MicrophoneFormat::Encoding::float32);
    EXPECT_EQ(format.description, StreamDescription::interleavedFloat(48000, 2));
}

TEST(MicrophoneFormat, TwentyFourAndThirtyTwoBitDevicesGiveThirtyTwoBitIntegers) {
    for (const char* name : {"s32le", "s24le", "s24-32le", "s24be", "s32be"}) {
        const auto format = MicrophoneFormat::forDevice(name, 96000, 2);
        EXPECT_EQ(format.encoding, MicrophoneFormat::Encoding::int32) << name;
        EXPECT_EQ(format.description.bitsPerChannel, 32u) << name;
        EXPECT_EQ(format.description.bytesPerFrame, 8u) << name;
        EXPECT_EQ(format.description.formatFlags, kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked)
            << name;
    }
}

TEST(MicrophoneFormat, OtherFormatsFallBackToFloat) {
    for (const char* name : {"u8", "aLaw", "uLaw", "float32be", "", "invalid"}) {
        const auto format = MicrophoneFormat::forDevice(name, 8000, 1);
        EXPECT_EQ(format.encoding, MicrophoneFormat::Encoding::float32) << name;
        EXPECT_EQ(format.description, StreamDescription::interleavedFloat(8000, 1)) << name;
    }
}

} // namespace
} // namespace veltrane
