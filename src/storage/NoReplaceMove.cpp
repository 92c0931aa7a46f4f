#include "storage/NoReplaceMove.h"

#include "platform/core/Log.h"
#include "platform/encoding/MediaFileWriter.h"
#include "storage/ChunkRecovery.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

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
        logLine("⚠️ Could not remove the unfinished chunk file " + path.string() + ": " +
                error.message());
        return; // its record stays with it, so a later start explains it again
    }
    std::filesystem::remove(recoveryCopyPath(path), error);
    PartialChunkRecord::removeBeside(path);
}

} // namespace veltrane
