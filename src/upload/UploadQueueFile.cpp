#include "upload/UploadQueueFile.h"

#include "platform/core/Messages.h"
#include "storage/AtomicFileWriter.h"
#include "upload/UploadJob.h"

#include <QDateTime>
#include <QDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace veltrane {

namespace fs = std::filesystem;

UploadQueueFile::UploadQueueFile(fs::path applicationDataDirectory)
    : directory_(std::move(applicationDataDirectory)), path_(directory_ / kFileName) {}

std::optional<std::string> UploadQueueFile::damageText(const DecodedUploadJobs& decoded) {
    if (decoded.isClean()) {
        return std::nullopt;
    }
    QString text = filledMessage(kDamageMessages[1], {QString::number(decoded.jobs.size())});
    if (decoded.undecodableEntries > 0) {
        text = filledMessage(kDamageMessages[decoded.undecodableEntries == 1 ? 2 : 3],
                             {text, QString::number(decoded.undecodableEntries)});
    }
    if (decoded.damaged) {
        text = filledMessage(kDamageMessages[4], {text});
    }
    return filledMessage(kDamageMessages[0], {text}).toStdString();
}

UploadQueueFile::LoadResult UploadQueueFile::load() const {
    std::error_code error;
    if (!fs::exists(path_, error)) {
        return std::nullopt;
    }
    std::ifstream in(path_, std::ios::binary);
    if (!in) {
        return std::unexpected(path_.string() + ": " + std::strerror(errno));
    }
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) {
        return std::unexpected(path_.string() + ": read error");
    }
    return decodeUploadJobs(text);
}

std::expected<void, std::string> UploadQueueFile::save(const std::vector<UploadJob>& jobs) const {
    std::string bytes;
    try {
        bytes = encodeUploadJobs(jobs);
    } catch (const std::exception& failure) {
        return std::unexpected(std::string("could not encode the queue: ") + failure.what());
    }
    AtomicFileWriter writer(path_);
    if (!writer.open() || !writer.write(bytes) || !writer.commit()) {
        return std::unexpected(path_.string() + ": " + writer.error().message());
    }
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace,
                    ignored);
    return {};
}

std::expected<fs::path, std::string> UploadQueueFile::setAside() const {
    const std::string stamp = QDateTime::currentDateTime().toString("yyyyMMdd-HHmmss").toStdString();
    std::error_code error;
    for (int suffix = 1; suffix < 1000; ++suffix) {
        std::string name = "upload_queue.unreadable-" + stamp;
        if (suffix > 1) {
            name += "-" + std::to_string(suffix);
        }
        name += ".json";
        const fs::path aside = directory_ / name;
        if (fs::exists(aside, error)) {
            continue;
        }
        fs::copy_file(path_, aside, error);
        if (error) {
            return std::unexpected(aside.string() + ": " + error.message());
        }
        return aside;
    }
    return std::unexpected(std::string("no free name for a copy"));
}

std::error_code createPrivateDirectories(const fs::path& directory) {
    std::error_code error;
    if (fs::is_directory(directory, error)) {
        return {};
    }
    if (const fs::path parent = directory.parent_path(); !parent.empty() && parent != directory) {
        if (const std::error_code parentError = createPrivateDirectories(parent)) {
            return parentError;
        }
    }
    if (::mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return {errno, std::generic_category()};
    }
    return {};
}

namespace {

QString lockFilePath(const fs::path& applicationDataDirectory) {
    return QString::fromStdString((applicationDataDirectory / UploadQueueLock::kFileName).string());
}

} // namespace

std::unique_ptr<UploadQueueLock> UploadQueueLock::acquire(const fs::path& applicationDataDirectory) {
    (void)createPrivateDirectories(applicationDataDirectory);
    auto lock = std::make_unique<UploadQueueLock>(lockFilePath(applicationDataDirectory));
    if (!lock->file_.tryLock(0)) {
        return nullptr;
    }
    return lock;
}

std::optional<qint64> UploadQueueLock::holder(const fs::path& applicationDataDirectory) {
    QLockFile file(lockFilePath(applicationDataDirectory));
    if (file.tryLock(0)) {
        return std::nullopt; // free (taken and released again)
    }
    if (file.error() != QLockFile::LockFailedError) {
        return std::nullopt; // not held: the lock file cannot be made
    }
    qint64 pid = 0;
    QString host;
    QString application;
    if (!file.getLockInfo(&pid, &host, &application) || pid == 0) {
        return std::nullopt;
    }
    return pid;
}

std::optional<std::string> UploadQueueLock::unwritableReason(const fs::path& applicationDataDirectory) {
    std::string cause;
    if (const std::error_code error = createPrivateDirectories(applicationDataDirectory)) {
        cause = error.message();
    } else {
        // Asks the file system itself whether, and why not, something can be created here.
        const fs::path probe = applicationDataDirectory / ".write-probe";
        const int descriptor = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (descriptor >= 0) {
            ::close(descriptor);
            ::unlink(probe.c_str());
            return std::nullopt;
        }
        cause = std::strerror(errno);
    }
    return filledMessage(kUnwritableMessage, {QString::fromStdString(applicationDataDirectory.string()),
                                              QString::fromStdString(cause)})
        .toStdString();
}

std::string UploadQueueLock::refusalReason(const fs::path& applicationDataDirectory) {
    if (const auto pid = holder(applicationDataDirectory)) {
        return filledMessage(kInUseMessage, {QString::number(*pid)}).toStdString();
    }
    return unwritableReason(applicationDataDirectory)
        .value_or(
            filledMessage(kLockFailedMessage, {QString::fromStdString(applicationDataDirectory.string())})
                .toStdString());
}

} // namespace veltrane
