#pragma once

#include "platform/core/PlatformError.h"

#include <system_error>

namespace veltrane {

// A failed file operation as a platform error: domain "FileSystem", the system's error number
// as the code and its message as the description.
[[nodiscard]] PlatformError makeFileSystemError(const std::error_code& error);

} // namespace veltrane
