#pragma once

#include "upload/UploadTiming.h"

#include <QtGlobal>

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

// Why a pending job is not being sent although it has attempts left. Stored under "waitingFor".
enum class UploadWait { server, signIn };

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
    // The absolute folder the chunk file was in when the job was made. Absent in jobs written
    // by earlier versions: those look for their file in the current recording folder.
    std::optional<std::string> folder;
    // Set while the job waits without using up attempts: for the server to answer again
    // (since `waitingSince`) or for the user to sign in again.
    std::optional<UploadWait> waitingFor;
    std::optional<ReferenceDate> waitingSince;

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

    // Why the job waits and when it is tried next, in the user's words ("Server unreachable
    // since 10:42 — retrying at 10:44:10", "Waiting for sign-in"), local time; absent when it
    // does not wait.
    [[nodiscard]] std::optional<std::string> waitingText() const;
    // The templates of the server's waiting text, marked for translation like
    // kUnreachableServerMessage (server/ServerErrors.h): [since when known][next attempt known].
    static constexpr const char* kServerWaitMessages[2][2] = {
        {QT_TRANSLATE_NOOP("veltrane::Messages", "Server unreachable — retrying"),
         QT_TRANSLATE_NOOP("veltrane::Messages", "Server unreachable — retrying at %2")},
        {QT_TRANSLATE_NOOP("veltrane::Messages", "Server unreachable since %1 — retrying"),
         QT_TRANSLATE_NOOP("veltrane::Messages", "Server unreachable since %1 — retrying at %2")}};

    bool operator==(const UploadJob&) const = default;
};

// The queue file's content: one compact JSON array with one object per job. Absent optional
// fields have no key; dates are seconds since 2001-01-01 00:00:00 UTC.
[[nodiscard]] std::string encodeUploadJobs(const std::vector<UploadJob>& jobs);

// What could be read from a queue file's text. An entry with a missing required key, a value of
// the wrong type, an unknown state or an id that is not a UUID is undecodable and skipped; the
// others are kept. Text that is not a JSON array (cut off, overwritten) is searched for whole
// job objects at the array's top level. Unknown keys are ignored; a null optional counts as
// absent.
struct DecodedUploadJobs {
    std::vector<UploadJob> jobs;
    std::size_t undecodableEntries = 0;
    // True when the text was not a complete JSON array (truncated or foreign bytes).
    bool damaged = false;

    [[nodiscard]] bool isClean() const { return undecodableEntries == 0 && !damaged; }
};
[[nodiscard]] DecodedUploadJobs decodeUploadJobs(std::string_view text);

// Whether `text` is a UUID in canonical 8-4-4-4-12 hexadecimal form (either letter case).
[[nodiscard]] bool isUUIDText(std::string_view text);

// Most completed jobs kept when the queue file is loaded; other states are never dropped.
inline constexpr std::size_t kMaxCompletedJobsKeptAtLoad = 500;

// The list a load produces from the file's jobs: the last 500 completed jobs (file order)
// followed by all others, stably sorted by createdAt, oldest first.
[[nodiscard]] std::vector<UploadJob> orderLoadedJobs(std::vector<UploadJob> fileJobs);

} // namespace veltrane
