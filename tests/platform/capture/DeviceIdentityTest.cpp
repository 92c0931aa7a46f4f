#include "platform/capture/pulse/DeviceIdentity.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

TEST(DeviceIdentity, IsTheFnv1aHashOfTheName) {
    // Reference values of 32-bit FNV-1a.
    EXPECT_EQ(displayIdForDeviceName("a"), 0xE40C292Cu);
    EXPECT_EQ(displayIdForDeviceName("foobar"), 0xBF9CF968u);
}

TEST(DeviceIdentity, IsStableAndTellsDevicesApart) {
    EXPECT_EQ(displayIdForDeviceName("virt_out"), displayIdForDeviceName(std::string("virt_out")));
    EXPECT_NE(displayIdForDeviceName("virt_out"), displayIdForDeviceName("virt_out2"));
    EXPECT_NE(displayIdForDeviceName("alsa_output.pci-0000_00_1f.3.analog-stereo"),
              displayIdForDeviceName("alsa_output.pci-0000_00_1f.3.hdmi-stereo"));
}

TEST(DeviceIdentity, IsNeverZero) {
    EXPECT_NE(displayIdForDeviceName(""), 0u);
}

} // namespace
} // namespace veltrane
