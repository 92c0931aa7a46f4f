#pragma once

#include "platform/encoding/MediaFileWriter.h"

#include <string>

namespace veltrane {

// The media writer's status as a word for diagnostics: "unknown", "writing", "completed",
// "failed", "cancelled", or "status <n>" for any other number.
[[nodiscard]] std::string describeWriterStatus(MediaWriterStatus status);

} // namespace veltrane
