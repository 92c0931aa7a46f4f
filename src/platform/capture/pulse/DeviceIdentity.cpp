#include "platform/capture/pulse/DeviceIdentity.h"

namespace veltrane {

std::uint32_t displayIDForDeviceName(std::string_view deviceName) {
    constexpr std::uint32_t kOffsetBasis = 2166136261u;
    constexpr std::uint32_t kPrime = 16777619u;
    std::uint32_t hash = kOffsetBasis;
    for (const char c : deviceName) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= kPrime;
    }
    return hash == 0 ? 1u : hash;
}

} // namespace veltrane
