#include "platform/capture/pulse/PulseCaptureService.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(DeviceIdentity, IsTheFnv1aHashOfTheName) {
    // Reference values of 32-bit FNV-1a.
    EXPECT_EQ(deviceIdForDeviceName("a"), 0xE40C292Cu);
    EXPECT_EQ(deviceIdForDeviceName("foobar"), 0xBF9CF968u);
}

TEST(DeviceIdentity, IsStableAndTellsDevicesApart) {
    EXPECT_EQ(deviceIdForDeviceName("virt_out"), deviceIdForDeviceName(std::string("virt_out")));
    EXPECT_NE(deviceIdForDeviceName("virt_out"), deviceIdForDeviceName("virt_out2"));
    EXPECT_NE(deviceIdForDeviceName("alsa_output.pci-0000_00_1f.3.analog-stereo"),
              deviceIdForDeviceName("alsa_output.pci-0000_00_1f.3.hdmi-stereo"));
}

TEST(DeviceIdentity, IsNeverZero) {
    EXPECT_NE(deviceIdForDeviceName(""), 0u);
}

} // namespace
} // namespace veltrane
