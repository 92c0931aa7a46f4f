#pragma once

#include "platform/core/PlatformError.h"

#include <string>

namespace veltrane {

// The error domain of everything the sound-server client reports.
inline constexpr const char* kPulseErrorDomain = "PulseAudio";

// An error of the sound-server client: `code` is the client library's error number.
[[nodiscard]] PlatformError pulseError(int code, std::string description);

// An error whose description is `prefix` followed by the library's text for `code`,
// e.g. "Could not connect to the sound server: Connection refused".
[[nodiscard]] PlatformError pulseErrorWithText(int code, const std::string& prefix);

} // namespace veltrane
