#include "platform/capture/pulse/PulseCaptureService.h"
#include "platform/capture/pulse/PulseConnection.h"
#include "platform/capture/pulse/PulseMicrophoneCapture.h"

#include <gtest/gtest.h>
#include <pulse/def.h>

#include <string_view>

namespace veltrane {
namespace {

// Identifiers are listed by one process and used by the next: a fixed hash (32-bit FNV-1a).
TEST(DeviceIdentity, IsTheFnv1aHashOfTheNameAndNeverZero) {
    EXPECT_EQ(outputIDForSinkName("a"), 0xE40C292Cu);
    EXPECT_EQ(outputIDForSinkName("foobar"), 0xBF9CF968u);
    EXPECT_NE(outputIDForSinkName(""), 0u);
}

// Callers act on the kind (a refusal raises the permission notice), so the error number sets it.
TEST(PulseErrorKind, FollowsTheErrorNumber) {
    using Kind = PlatformError::Kind;
    const std::pair<int, Kind> cases[] = {
        {PA_ERR_ACCESS, Kind::permissionDenied},
        {PA_ERR_CONNECTIONREFUSED, Kind::serverUnavailable},
        {PA_ERR_CONNECTIONTERMINATED, Kind::serverUnavailable},
        {PA_ERR_NOENTITY, Kind::deviceGone},
        {PA_ERR_INVALID, Kind::other},
    };
    for (const auto& [code, kind] : cases) {
        EXPECT_EQ(pulseErrorWithText(code, "Could not list the output devices: ").kind, kind) << code;
    }
}

// The recordings' s16le and float32le microphones are shown end to end; the other sample types here.
TEST(MicrophoneFormat, FollowsTheDevicesSampleType) {
    using Encoding = MicrophoneFormat::Encoding;
    const std::pair<std::string_view, Encoding> cases[] = {
        {"s16be", Encoding::int16},       {"s24le", Encoding::int32}, {"s24-32le", Encoding::int32},
        {"s32be", Encoding::int32},       {"u8", Encoding::float32},  {"aLaw", Encoding::float32},
        {"float32be", Encoding::float32}, {"", Encoding::float32},
    };
    for (const auto& [device, encoding] : cases) {
        const auto format = MicrophoneFormat::forDevice(device, 44100, 2);
        EXPECT_EQ(format.encoding, encoding) << device;
        const std::uint32_t bytes = encoding == Encoding::int16 ? 2 : 4;
        EXPECT_EQ(format.bytesPerSample(), bytes) << device;
        EXPECT_EQ(format.description.bytesPerFrame, 2 * bytes) << device;
        EXPECT_EQ((format.description.formatFlags & kAudioFormatFlagIsSignedInteger) != 0,
                  encoding != Encoding::float32)
            << device;
    }
}

} // namespace
} // namespace veltrane
