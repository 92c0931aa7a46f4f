#pragma once

#include <cstdint>
#include <string_view>

namespace veltrane {

// The identifier an output device is listed under: a 32-bit FNV-1a hash of the device's
// name, so that it stays the same across restarts of the sound server (indices do not).
// Never 0, which stands for "no device".
[[nodiscard]] std::uint32_t displayIDForDeviceName(std::string_view deviceName);

} // namespace veltrane
