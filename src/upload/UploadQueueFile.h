#pragma once

#include "upload/UploadJob.h"

#include <QLockFile>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace veltrane {

// The persisted job list, "upload_queue.json" in the application data folder.
//
// An undecodable file is not overwritten: load() renames it aside to
// "upload_queue.unreadable-<yyyyMMdd-HHmmss>.json" in the same folder and logs a warning, so the
// next save starts a new file without destroying the old content.
class UploadQueueFile {
public:
    static constexpr const char* kFileName = "upload_queue.json";

    explicit UploadQueueFile(std::filesystem::path applicationDataDirectory);

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

    // The decoded jobs in file order; absent when the file is missing, unreadable or undecodable.
    [[nodiscard]] std::optional<std::vector<UploadJob>> load() const;

    // Writes the whole list atomically. False on an encoding or writing error.
    [[nodiscard]] bool save(const std::vector<UploadJob>& jobs) const;

private:
    void setAsideUnreadable() const;

    std::filesystem::path directory_;
    std::filesystem::path path_;
};

// Keeps two processes from working on the same upload queue at once: each rewrites the whole
// queue file, so two writers would drop each other's jobs. A lock file next to the queue file,
// released on destruction; a lock left by a dead process is taken over.
class UploadQueueLock {
public:
    static constexpr const char* kFileName = "upload_queue.lock";

    // Takes the lock of the queue in `applicationDataDirectory`; null when another live process
    // holds it.
    [[nodiscard]] static std::unique_ptr<UploadQueueLock>
    acquire(const std::filesystem::path& applicationDataDirectory);
    // The process id of the current holder, when another process holds the lock.
    [[nodiscard]] static std::optional<qint64> holder(const std::filesystem::path& applicationDataDirectory);

    explicit UploadQueueLock(const QString& lockFilePath) : file_(lockFilePath) {}

private:
    QLockFile file_;
};

} // namespace veltrane
