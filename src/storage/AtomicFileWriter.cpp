#include "storage/AtomicFileWriter.h"

#include "platform/core/Log.h"
#include "platform/core/UUID.h"
#include "platform/encoding/MediaFileWriter.h"
#include "storage/ChunkRecovery.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <system_error>

namespace veltrane {

namespace {

std::error_code lastError() {
    return {errno, std::generic_category()};
}

// For file systems without an atomic no-replace rename: a hard link fails when the name is
// taken, and only then is the old name removed.
std::error_code linkThenUnlink(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        return lastError();
    }
    if (::unlink(from.c_str()) != 0) {
        const std::error_code error = lastError();
        ::unlink(to.c_str()); // keep one name only; the caller still has `from`
        return error;
    }
    return {};
}

} // namespace

std::error_code moveWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return {};
    }
    const int renameError = errno;
    if (renameError != EINVAL && renameError != ENOSYS && renameError != EOPNOTSUPP) {
        return {renameError, std::generic_category()};
    }
    const std::error_code linked = linkThenUnlink(from, to);
    if (linked.value() != EPERM && linked.value() != EOPNOTSUPP) {
        return linked;
    }
    // Neither is offered (a file system without hard links): check, then move, as closely
    // together as this file system allows.
    std::error_code error;
    if (std::filesystem::exists(to, error)) {
        return std::make_error_code(std::errc::file_exists);
    }
    std::filesystem::rename(from, to, error);
    return error;
}

void removePartialFile(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        logWarning(lcStorage(), "⚠️ Could not remove the unfinished chunk file " + path.string() + ": " +
                                    error.message());
        return; // its record stays with it, so a later start explains it again
    }
    std::filesystem::remove(recoveryCopyPath(path), error);
    PartialChunkRecord::removeBeside(path);
}

namespace {

constexpr std::string_view kTemporaryMarker = ".tmp-";

bool isCanonicalUUID(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
        const auto c = static_cast<unsigned char>(text[i]);
        if (hyphen ? c != '-' : !(std::isdigit(c) || (c >= 'A' && c <= 'F'))) {
            return false;
        }
    }
    return true;
}

} // namespace

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
    temporary_ += std::string(kTemporaryMarker) + makeUUIDString();
    descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (descriptor_ < 0) {
        fail(errno);
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
            fail(errno);
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
    int errorNumber = 0;
    if (durability_ == Durability::synced && ::fsync(descriptor_) != 0) {
        errorNumber = errno;
    }
    if (::close(descriptor_) != 0 && errorNumber == 0) {
        errorNumber = errno;
    }
    descriptor_ = -1;
    if (errorNumber == 0 && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        errorNumber = errno;
    }
    if (errorNumber != 0) {
        fail(errorNumber);
        discard();
        return false;
    }
    temporary_.clear();
    if (durability_ == Durability::processOnly) {
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

std::optional<std::string_view> AtomicFileWriter::targetOfTemporary(std::string_view fileName) {
    const auto marker = fileName.rfind(kTemporaryMarker);
    if (marker == std::string_view::npos || marker == 0 ||
        !isCanonicalUUID(fileName.substr(marker + kTemporaryMarker.size()))) {
        return std::nullopt;
    }
    return fileName.substr(0, marker);
}

void AtomicFileWriter::fail(int errorNumber) {
    failed_ = true;
    error_ = std::error_code(errorNumber, std::generic_category());
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
