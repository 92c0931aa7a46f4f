#pragma once

#include "upload/UploadTiming.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veltrane {

// Transfer state of an upload job. The raw value is what the queue file stores.
enum class UploadState { pending, uploading, completed, failed };

[[nodiscard]] std::string_view rawValue(UploadState state);

// The state whose raw value is `text`, or absent for any other text.
[[nodiscard]] std::optional<UploadState> uploadStateFromRawValue(std::string_view text);

// One finished chunk file that has to reach the server, with its transfer state and retry
// bookkeeping. Fields in the queue file's key names and order.
struct UploadJob {
    std::string id; // canonical upper-case UUID text
    std::string filename;
    std::string projectId;
    std::optional<std::string> projectName;
    std::optional<std::string> meetingId;
    std::optional<std::string> meetingName;
    ReferenceDate createdAt;
    std::optional<double> duration; // seconds
    UploadState state = UploadState::pending;
    double progress = 0.0;
    std::optional<std::string> lastError;
    std::int64_t attempts = 0;
    std::optional<ReferenceDate> nextEarliestAttempt;
    std::optional<std::int64_t> taskIdentifier;

    // A new pending job with a fresh id, created at `now`.
    [[nodiscard]] static UploadJob makeNew(std::string filename, std::string projectId,
                                           std::optional<std::string> projectName,
                                           std::optional<std::string> meetingId,
                                           std::optional<std::string> meetingName,
                                           std::optional<double> duration, ReferenceDate now);

    // The present names among projectName and meetingName joined with " › ".
    [[nodiscard]] std::string contextLabel() const;

    // ("project_id", projectId), then ("meeting_id", meetingId) when present.
    [[nodiscard]] std::vector<std::pair<std::string, std::string>> multipartFields() const;

    bool operator==(const UploadJob&) const = default;
};

// The queue file's content: one compact JSON array with one object per job. Absent optional
// fields have no key; dates are seconds since 2001-01-01 00:00:00 UTC.
[[nodiscard]] std::string encodeUploadJobs(const std::vector<UploadJob>& jobs);

// Decodes the whole array, or nothing: a missing required key, a value of the wrong type, an
// unknown state or an id that is not a UUID makes the whole text undecodable. Unknown keys are
// ignored; a null optional counts as absent.
[[nodiscard]] std::optional<std::vector<UploadJob>> decodeUploadJobs(std::string_view text);

// Whether `text` is a UUID in canonical 8-4-4-4-12 hexadecimal form (either letter case).
[[nodiscard]] bool isUUIDText(std::string_view text);

// Most completed jobs kept when the queue file is loaded; other states are never dropped.
inline constexpr std::size_t kMaxCompletedJobsKeptAtLoad = 500;

// The list a load produces from the file's jobs: the last 500 completed jobs (file order)
// followed by all others, stably sorted by createdAt, oldest first.
[[nodiscard]] std::vector<UploadJob> orderLoadedJobs(std::vector<UploadJob> fileJobs);

} // namespace veltrane
