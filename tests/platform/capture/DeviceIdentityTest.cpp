#include "platform/capture/pulse/DeviceIdentity.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(DeviceIdentity, IsTheFnv1aHashOfTheName) {
    // Reference values of 32-bit FNV-1a.
    EXPECT_EQ(displayIDForDeviceName("a"), 0xE40C292Cu);
    EXPECT_EQ(displayIDForDeviceName("foobar"), 0xBF9CF968u);
}

TEST(DeviceIdentity, IsStableAndTellsDevicesApart) {
    EXPECT_EQ(displayIDForDeviceName("virt_out"), displayIDForDeviceName(std::string("virt_out")));
    EXPECT_NE(displayIDForDeviceName("virt_out"), displayIDForDeviceName("virt_out2"));
    EXPECT_NE(displayIDForDeviceName("alsa_output.pci-0000_00_1f.3.analog-stereo"),
              displayIDForDeviceName("alsa_output.pci-0000_00_1f.3.hdmi-stereo"));
}

TEST(DeviceIdentity, IsNeverZero) {
    EXPECT_NE(displayIDForDeviceName(""), 0u);
}

} // namespace
} // namespace veltrane
