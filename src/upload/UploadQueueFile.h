#pragma once

#include "upload/UploadJob.h"

#include <QLockFile>

#include <expected>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace veltrane {

// The persisted job list, "upload_queue.json" in the application data folder.
//
// Reading never changes a file. A damaged file is salvaged by its owner: every decodable job
// is kept, and setAside() keeps a copy of the original as
// "upload_queue.unreadable-<yyyyMMdd-HHmmss>.json" beside it before the salvaged list replaces it.
// The folder and the file are private to the user (0700, 0600): they name the user's meetings.
class UploadQueueFile {
public:
    static constexpr const char* kFileName = "upload_queue.json";

    // The decoded list, absent when there is no file and present (perhaps empty) otherwise; or
    // why an existing file could not be read at all.
    using LoadResult = std::expected<std::optional<DecodedUploadJobs>, std::string>;

    explicit UploadQueueFile(std::filesystem::path applicationDataDirectory);

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

    [[nodiscard]] LoadResult load() const;
    // The one-line warning about a damaged file, absent for a clean one, put together from these
    // templates (see filledMessage).
    [[nodiscard]] static std::optional<std::string> damageText(const DecodedUploadJobs& decoded);
    static constexpr const char* kDamageMessages[] = {
        QT_TRANSLATE_NOOP("veltrane::Messages", "⚠️ Upload queue file was damaged: %1"),
        QT_TRANSLATE_NOOP("veltrane::Messages", "kept %1 job(s)"),
        QT_TRANSLATE_NOOP("veltrane::Messages", "%1, set aside %2 undecodable entry"),
        QT_TRANSLATE_NOOP("veltrane::Messages", "%1, set aside %2 undecodable entries"),
        QT_TRANSLATE_NOOP("veltrane::Messages", "%1 (the file was cut off or overwritten)")};

    // Writes the whole list atomically, owner-only. The error names the cause ("<path>: Read-only
    // file system").
    [[nodiscard]] std::expected<void, std::string> save(const std::vector<UploadJob>& jobs) const;

    // Copies the current file aside under a time-stamped name; the copy's path, or why not.
    [[nodiscard]] std::expected<std::filesystem::path, std::string> setAside() const;

private:
    std::filesystem::path directory_;
    std::filesystem::path path_;
};

// Creates `directory` (and its parents) when missing, with owner-only access for the folders
// made here. Returns the error when it cannot.
std::error_code createPrivateDirectories(const std::filesystem::path& directory);

// Keeps two processes from working on the same upload queue at once: each rewrites the whole
// queue file, so two writers would drop each other's jobs. A lock file next to the queue file,
// released on destruction; a lock left by a dead process is taken over.
class UploadQueueLock {
public:
    static constexpr const char* kFileName = "upload_queue.lock";

    // Takes the lock of the queue in `applicationDataDirectory`; null when another live process
    // holds it or the lock file cannot be made (refusalReason() tells which).
    [[nodiscard]] static std::unique_ptr<UploadQueueLock>
    acquire(const std::filesystem::path& applicationDataDirectory);
    // The process id of the current holder, when another process holds the lock.
    [[nodiscard]] static std::optional<qint64> holder(const std::filesystem::path& applicationDataDirectory);
    // Why acquire() failed, in the user's words: another process (with its id) holds the queue,
    // or the folder cannot be written (with the system's reason).
    [[nodiscard]] static std::string refusalReason(const std::filesystem::path& applicationDataDirectory);
    // Why nothing can be created in the queue's folder; absent when something can.
    [[nodiscard]] static std::optional<std::string>
    unwritableReason(const std::filesystem::path& applicationDataDirectory);
    // The reasons' templates (see filledMessage).
    static constexpr const char* kUnwritableMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "The upload queue's folder %1 cannot be written (%2); "
                                                "nothing can be queued or uploaded until it can");
    static constexpr const char* kInUseMessage =
        QT_TRANSLATE_NOOP("veltrane::Messages", "The upload queue is in use by another VeltraneRecorder "
                                                "process (process %1); try again when it has finished");
    static constexpr const char* kLockFailedMessage = QT_TRANSLATE_NOOP(
        "veltrane::Messages", "The upload queue's lock file in %1 could not be created; try again");

    explicit UploadQueueLock(const QString& lockFilePath) : file_(lockFilePath) {}

private:
    QLockFile file_;
};

} // namespace veltrane
