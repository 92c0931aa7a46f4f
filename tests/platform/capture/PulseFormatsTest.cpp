#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/capture/pulse/PulseMicrophoneCapture.h"

#include <gtest/gtest.h>

#include <string_view>

namespace veltrane {
namespace {

TEST(DeviceIdentity, IsTheFnv1aHashOfTheNameAndNeverZero) {
    // Reference values of 32-bit FNV-1a.
    EXPECT_EQ(deviceIDForDeviceName("a"), 0xE40C292Cu);
    EXPECT_EQ(deviceIDForDeviceName("foobar"), 0xBF9CF968u);
    EXPECT_NE(deviceIDForDeviceName(""), 0u);
}

TEST(MicrophoneFormat, FollowsTheDevicesSampleType) {
    struct Case {
        std::string_view device;
        MicrophoneFormat::Encoding encoding;
    };
    using Encoding = MicrophoneFormat::Encoding;
    const Case cases[] = {
        {"s16le", Encoding::int16},  {"s16be", Encoding::int16},       {"s32le", Encoding::int32},
        {"s24le", Encoding::int32},  {"s24-32le", Encoding::int32},    {"s24be", Encoding::int32},
        {"s32be", Encoding::int32},  {"float32le", Encoding::float32}, {"u8", Encoding::float32},
        {"aLaw", Encoding::float32}, {"float32be", Encoding::float32}, {"", Encoding::float32},
    };
    for (const Case& c : cases) {
        const auto format = MicrophoneFormat::forDevice(c.device, 44100, 2);
        EXPECT_EQ(format.encoding, c.encoding) << c.device;
        StreamDescription expected = StreamDescription::interleavedFloat(44100, 2);
        if (c.encoding != Encoding::float32) {
            expected.formatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
            expected.bitsPerChannel = c.encoding == Encoding::int16 ? 16 : 32;
            expected.bytesPerFrame = expected.bytesPerPacket = expected.bitsPerChannel / 4;
        }
        EXPECT_EQ(format.description, expected) << c.device;
        EXPECT_EQ(format.bytesPerSample(), expected.bitsPerChannel / 8) << c.device;
    }
}

} // namespace
} // namespace veltrane
