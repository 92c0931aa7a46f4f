#pragma once

#include "platform/core/PlatformError.h"
#include "platform/encoding/MediaFileWriter.h"

#include <expected>
#include <filesystem>

namespace veltrane {

// Repairs a file whose writer's process died before the file was finished (see
// MediaFileWriterFactory::repairInterrupted).
//
// WAV: the sizes in the header still say "unknown"; the data is cut to its last whole frame
// and the header's sizes are written. M4A: the file has no movie header and cannot be read,
// so its fragmented recovery copy is remuxed into a normal M4A in its place.
[[nodiscard]] std::expected<RepairOutcome, PlatformError>
repairInterruptedFile(const std::filesystem::path& path, MediaFileType fileType);

} // namespace veltrane
