#include "upload/UploadQueueFile.h"

#include "platform/core/Log.h"
#include "storage/AtomicFileWriter.h"
#include "upload/UploadJob.h"

#include <QDateTime>
#include <QDir>

#include <fstream>
#include <iterator>
#include <system_error>

namespace veltrane {

UploadQueueFile::UploadQueueFile(std::filesystem::path applicationDataDirectory)
    : directory_(std::move(applicationDataDirectory)), path_(directory_ / kFileName) {}

std::optional<std::vector<UploadJob>> UploadQueueFile::load() const {
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return std::nullopt;
    }
    in.close();
    auto jobs = decodeUploadJobs(text);
    if (!jobs) {
        setAsideUnreadable();
    }
    return jobs;
}

bool UploadQueueFile::save(const std::vector<UploadJob>& jobs) const {
    std::string bytes;
    try {
        bytes = encodeUploadJobs(jobs);
    } catch (const std::exception&) {
        return false;
    }
    return AtomicFileWriter::writeWhole(path_, bytes);
}

void UploadQueueFile::setAsideUnreadable() const {
    const std::string stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString();
    std::error_code error;
    for (int suffix = 1; suffix < 1000; ++suffix) {
        std::string name = "upload_queue.unreadable-" + stamp;
        if (suffix > 1) {
            name += "-" + std::to_string(suffix);
        }
        name += ".json";
        const std::filesystem::path aside = directory_ / name;
        if (std::filesystem::exists(aside, error)) {
            continue;
        }
        std::filesystem::rename(path_, aside, error);
        if (error) {
            logLine("⚠️ Upload queue file " + path_.string() +
                    " could not be decoded and could not be set aside (" + error.message() +
                    "); starting with an empty queue");
        } else {
            logLine("⚠️ Upload queue file could not be decoded; kept it as " + aside.string() +
                    " and starting with an empty queue");
        }
        return;
    }
}

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
