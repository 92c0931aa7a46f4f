#include "upload/UploadQueueFile.h"

#include "platform/core/Log.h"
#include "storage/AtomicFileWriter.h"
#include "upload/UploadJobCoding.h"

#include <QDateTime>

#include <fstream>
#include <iterator>
#include <system_error>

namespace veltrane {

UploadQueueFile::UploadQueueFile(std::filesystem::path applicationDataDirectory)
    : directory_(std::move(applicationDataDirectory)), path_(directory_ / fileName) {}

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

} // namespace veltrane
