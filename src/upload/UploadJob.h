#pragma once

#include "upload/ReferenceDate.h"
#include "upload/UploadState.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace veltrane {

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

} // namespace veltrane
