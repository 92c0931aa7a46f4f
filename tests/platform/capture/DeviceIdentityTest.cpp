#include "platform/capture/pulse/PulseCaptureService.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(DeviceIdentity, IsTheFnv1aHashOfTheName) {
    // Reference values of 32-bit FNV-1a.
    EXPECT_EQ(deviceIDForDeviceName("a"), 0xE40C292Cu);
    EXPECT_EQ(deviceIDForDeviceName("foobar"), 0xBF9CF968u);
}

TEST(DeviceIdentity, IsStableAndTellsDevicesApart) {
    EXPECT_EQ(deviceIDForDeviceName("virt_out"), deviceIDForDeviceName(std::string("virt_out")));
    EXPECT_NE(deviceIDForDeviceName("virt_out"), deviceIDForDeviceName("virt_out2"));
    EXPECT_NE(deviceIDForDeviceName("alsa_output.pci-0000_00_1f.3.analog-stereo"),
              deviceIDForDeviceName("alsa_output.pci-0000_00_1f.3.hdmi-stereo"));
}

TEST(DeviceIdentity, IsNeverZero) {
    EXPECT_NE(deviceIDForDeviceName(""), 0u);
}

} // namespace
} // namespace veltrane
