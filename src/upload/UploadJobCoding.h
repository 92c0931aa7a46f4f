#pragma once

#include "upload/UploadJob.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veltrane {

// The queue file's content: one compact JSON array with one object per job. Absent optional
// fields have no key; dates are seconds since 2001-01-01 00:00:00 UTC.
[[nodiscard]] std::string encodeUploadJobs(const std::vector<UploadJob>& jobs);

// Decodes the whole array, or nothing: a missing required key, a value of the wrong type, an
// unknown state or an id that is not a UUID makes the whole text undecodable. Unknown keys are
// ignored; a null optional counts as absent.
[[nodiscard]] std::optional<std::vector<UploadJob>> decodeUploadJobs(std::string_view text);

// Whether `text` is a UUID in canonical 8-4-4-4-12 hexadecimal form (either letter case).
[[nodiscard]] bool isUuidText(std::string_view text);

} // namespace veltrane
