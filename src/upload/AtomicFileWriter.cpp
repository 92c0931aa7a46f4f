#include "upload/AtomicFileWriter.h"

#include "platform/core/Uuid.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace veltrane {

AtomicFileWriter::AtomicFileWriter(std::filesystem::path target, Durability durability)
    : target_(std::move(target)), durability_(durability) {}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

bool AtomicFileWriter::open() {
    if (descriptor_ >= 0 || failed_) {
        return false;
    }
    temporary_ = target_;
    temporary_ += ".tmp-" + makeUuidString();
    descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor_ < 0) {
        failed_ = true;
        temporary_.clear();
        return false;
    }
    return true;
}

bool AtomicFileWriter::write(std::string_view bytes) {
    if (descriptor_ < 0 || failed_) {
        return false;
    }
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor_, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed_ = true;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool AtomicFileWriter::commit() {
    if (descriptor_ < 0 || failed_) {
        return false;
    }
    const bool synced = durability_ == Durability::ProcessOnly || ::fsync(descriptor_) == 0;
    const bool closed = ::close(descriptor_) == 0;
    descriptor_ = -1;
    if (!synced || !closed || ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        failed_ = true;
        discard();
        return false;
    }
    temporary_.clear();
    if (durability_ == Durability::ProcessOnly) {
        return true;
    }
    // Make the rename itself durable.
    const std::filesystem::path directory = target_.has_parent_path() ? target_.parent_path() : ".";
    const int directoryDescriptor = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directoryDescriptor >= 0) {
        (void)::fsync(directoryDescriptor);
        ::close(directoryDescriptor);
    }
    return true;
}

bool AtomicFileWriter::writeWhole(const std::filesystem::path& target, std::string_view bytes) {
    AtomicFileWriter writer(target);
    return writer.open() && writer.write(bytes) && writer.commit();
}

void AtomicFileWriter::discard() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (!temporary_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(temporary_, ignored);
        temporary_.clear();
    }
}

} // namespace veltrane
