#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace veltrane {

// Transfer state of an upload job. The raw value is what the queue file stores.
enum class UploadState { pending, uploading, completed, failed };

[[nodiscard]] std::string_view rawValue(UploadState state);

// The state whose raw value is `text`, or absent for any other text.
[[nodiscard]] std::optional<UploadState> uploadStateFromRawValue(std::string_view text);

} // namespace veltrane
