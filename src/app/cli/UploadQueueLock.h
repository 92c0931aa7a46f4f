#pragma once

#include <QLockFile>

#include <filesystem>
#include <memory>

namespace veltrane {

// Keeps a second veltrane-cli from working on the same upload queue at the same time: each
// process rewrites the whole queue file, so two writers would drop each other's jobs. A lock file
// next to the queue file, released on destruction; a lock left by a dead process is taken over.
class UploadQueueLock {
public:
    static constexpr const char* kFileName = "upload_queue.lock";

    // Tries to take the lock of the queue in `applicationDataDirectory`; null when another live
    // process holds it (message on standard error).
    [[nodiscard]] static std::unique_ptr<UploadQueueLock>
    acquire(const std::filesystem::path& applicationDataDirectory);

    explicit UploadQueueLock(const QString& lockFilePath) : file_(lockFilePath) {}

private:
    QLockFile file_;
};

} // namespace veltrane
