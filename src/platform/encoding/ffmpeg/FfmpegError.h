#pragma once

#include "platform/core/PlatformError.h"

#include <string_view>

namespace veltrane {

// The error domain of everything the FFmpeg writer reports.
inline constexpr std::string_view kFfmpegErrorDomain = "FFmpeg";

// A platform error for an FFmpeg failure: code = the AVERROR value, description = what was
// being done ("could not open output file") followed by FFmpeg's own text for the code.
[[nodiscard]] PlatformError makeFfmpegError(int averror, std::string_view context);

} // namespace veltrane
