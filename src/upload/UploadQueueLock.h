#pragma once

#include <QLockFile>

#include <filesystem>
#include <memory>
#include <optional>

namespace veltrane {

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
