#include "upload/UploadQueueLock.h"

#include <QDir>

namespace veltrane {

namespace {

QString lockFilePath(const std::filesystem::path& applicationDataDirectory) {
    return QString::fromStdString((applicationDataDirectory / UploadQueueLock::kFileName).string());
}

} // namespace

std::unique_ptr<UploadQueueLock>
UploadQueueLock::acquire(const std::filesystem::path& applicationDataDirectory) {
    (void)QDir().mkpath(QString::fromStdString(applicationDataDirectory.string()));
    auto lock = std::make_unique<UploadQueueLock>(lockFilePath(applicationDataDirectory));
    if (!lock->file_.tryLock(0)) {
        return nullptr;
    }
    return lock;
}

std::optional<qint64> UploadQueueLock::holder(const std::filesystem::path& applicationDataDirectory) {
    QLockFile file(lockFilePath(applicationDataDirectory));
    if (file.tryLock(0)) {
        return std::nullopt; // free (taken and released again)
    }
    qint64 pid = 0;
    QString host;
    QString application;
    if (!file.getLockInfo(&pid, &host, &application)) {
        return std::nullopt;
    }
    return pid;
}

} // namespace veltrane
