#include "app/cli/UploadQueueLock.h"

#include <QDir>

#include <iostream>

namespace veltrane {

std::unique_ptr<UploadQueueLock>
UploadQueueLock::acquire(const std::filesystem::path& applicationDataDirectory) {
    const QString folder = QString::fromStdString(applicationDataDirectory.string());
    (void)QDir().mkpath(folder);
    auto lock = std::make_unique<UploadQueueLock>(folder + QLatin1Char('/') + QLatin1String(kFileName));
    if (lock->file_.tryLock(0)) {
        return lock;
    }
    qint64 pid = 0;
    QString host;
    QString application;
    (void)lock->file_.getLockInfo(&pid, &host, &application);
    std::cerr << "The upload queue is in use by another veltrane-cli (process " << pid
              << "); try again when it has finished" << std::endl;
    return nullptr;
}

} // namespace veltrane
