#include "devserver/IncomingFile.h"

namespace veltrane::devserver {

IncomingFile::IncomingFile(std::filesystem::path partPath)
    : partPath_(std::move(partPath)), stream_(partPath_, std::ios::binary | std::ios::trunc) {
    failed_ = !stream_.is_open();
}

IncomingFile::~IncomingFile() {
    if (!committed_) {
        stream_.close();
        std::error_code ignored;
        std::filesystem::remove(partPath_, ignored);
    }
}

void IncomingFile::write(const char* data, std::size_t size) {
    if (failed_) {
        return;
    }
    stream_.write(data, static_cast<std::streamsize>(size));
    failed_ = !stream_.good();
    sizeBytes_ += size;
}

bool IncomingFile::commitTo(const std::filesystem::path& destination) {
    stream_.close();
    if (failed_ || stream_.fail()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(destination.parent_path(), error);
    if (error) {
        return false;
    }
    std::filesystem::rename(partPath_, destination, error);
    committed_ = !error;
    return committed_;
}

} // namespace veltrane::devserver
