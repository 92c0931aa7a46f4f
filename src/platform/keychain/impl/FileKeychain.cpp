#include "platform/keychain/impl/FileKeychain.h"

#include "platform/core/Log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <random>
#include <string>
#include <system_error>
#include <utility>

namespace veltrane {

namespace {

constexpr std::size_t kMaxFileNameBytes = 255;

bool keepsAsIs(unsigned char byte) {
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
           byte == '-' || byte == '_' || byte == '.';
}

void appendEncoded(std::string& name, const std::string& part) {
    constexpr char kHexDigits[] = "0123456789ABCDEF";
    for (const char character : part) {
        const auto byte = static_cast<unsigned char>(character);
        if (keepsAsIs(byte) && !(name.empty() && byte == '.')) {
            name.push_back(character);
        } else {
            name.push_back('%');
            name.push_back(kHexDigits[byte >> 4]);
            name.push_back(kHexDigits[byte & 0x0F]);
        }
    }
}

} // namespace

std::optional<std::string> credentialFileName(const std::string& service, const std::string& account) {
    std::string name;
    appendEncoded(name, service);
    name.push_back('+');
    appendEncoded(name, account);
    if (name.size() > kMaxFileNameBytes) {
        return std::nullopt;
    }
    return name;
}

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr int kTemporaryNameAttempts = 16;

// Closes the descriptor it owns.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    FileDescriptor& operator=(FileDescriptor&&) = delete;

    [[nodiscard]] int get() const { return fd_; }
    [[nodiscard]] bool valid() const { return fd_ >= 0; }
    // Closes now, reporting the close's own error (which may be a delayed write error).
    [[nodiscard]] bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_ = -1;
};

KeychainResult ioFailure(std::string_view operation, const std::filesystem::path& path, int error) {
    const std::string reason =
        std::string(operation) + " " + path.string() + " failed: " + std::generic_category().message(error);
    logWarning(lcKeychain(), "🔑 file keychain: " + reason + " (errno " + std::to_string(error) + ")");
    return KeychainResult::failed("The credential file could not be used: " + reason + ".");
}

// An item whose name cannot be a file name.
KeychainResult unnamable() {
    return KeychainResult::failed("One or more parameters passed to the keychain were not valid.");
}

bool writeAll(int fd, const std::string& data) {
    std::size_t written = 0;
    while (written < data.size()) {
        const ssize_t count = ::write(fd, data.data() + written, data.size() - written);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    return true;
}

bool readAll(int fd, std::string& data) {
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (count == 0) {
            return true;
        }
        data.append(buffer, static_cast<std::size_t>(count));
    }
}

std::string temporaryName() {
    std::random_device random;
    return ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(random()) + std::to_string(random());
}

// Opens the folder (creating it and its parents first when `create` is set) and makes sure it is
// a directory of the current user with mode 0700. Sets `status` when it gives no descriptor.
FileDescriptor openFolder(const std::filesystem::path& folder, bool create, KeychainResult& status) {
    if (!folder.is_absolute()) {
        status = ioFailure("using relative folder", folder, EINVAL);
        return FileDescriptor(-1);
    }
    if (create) {
        std::error_code error;
        std::filesystem::create_directories(folder.parent_path(), error);
        if (error) {
            status = ioFailure("creating", folder.parent_path(), error.value());
            return FileDescriptor(-1);
        }
        if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            status = ioFailure("creating", folder, errno);
            return FileDescriptor(-1);
        }
    }
    FileDescriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) {
        const int error = errno;
        status =
            error == ENOENT && !create ? KeychainResult::notFound() : ioFailure("opening", folder, error);
        return fd;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        status = ioFailure("inspecting", folder, errno);
        return FileDescriptor(-1);
    }
    if (info.st_uid != ::geteuid()) {
        status = ioFailure("using folder of another user", folder, EPERM);
        return FileDescriptor(-1);
    }
    // mkdir's mode is narrowed by the umask, and an older folder may be more open than it should.
    if (create && (info.st_mode & 07777) != kFolderMode && ::fchmod(fd.get(), kFolderMode) != 0) {
        status = ioFailure("restricting", folder, errno);
        return FileDescriptor(-1);
    }
    return fd;
}

} // namespace

FileKeychain::FileKeychain(std::filesystem::path folder) : folder_(std::move(folder)) {}

KeychainResult FileKeychain::lookUp(const std::string& service, const std::string& account) {
    const auto name = credentialFileName(service, account);
    if (!name) {
        return unnamable();
    }
    KeychainResult status;
    const FileDescriptor folder = openFolder(folder_, false, status);
    if (!folder.valid()) {
        return status;
    }
    const FileDescriptor file(::openat(folder.get(), name->c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!file.valid()) {
        const int error = errno;
        return error == ENOENT ? KeychainResult::notFound() : ioFailure("opening", folder_ / *name, error);
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) {
        const int error = errno;
        return ioFailure("inspecting", folder_ / *name, error);
    }
    if (!S_ISREG(info.st_mode)) {
        return ioFailure("reading non-file", folder_ / *name, EINVAL);
    }
    std::string data;
    if (!readAll(file.get(), data)) {
        const int error = errno;
        return ioFailure("reading", folder_ / *name, error);
    }
    return KeychainResult::found(std::move(data));
}

KeychainResult FileKeychain::store(const std::string& service, const std::string& account,
                                   const std::string& data) {
    const auto name = credentialFileName(service, account);
    if (!name) {
        return unnamable();
    }
    KeychainResult status;
    const FileDescriptor folder = openFolder(folder_, true, status);
    if (!folder.valid()) {
        return status;
    }
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryNameAttempts && fd < 0; ++attempt) {
        temporary = temporaryName();
        fd = ::openat(folder.get(), temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                      kFileMode);
        const int error = errno;
        if (fd < 0 && error != EEXIST) {
            return ioFailure("creating", folder_ / temporary, error);
        }
    }
    if (fd < 0) {
        return ioFailure("creating", folder_ / temporary, EEXIST);
    }
    FileDescriptor file(fd);
    // Removes the temporary file after a failure (reported with the errno it caused).
    const auto discard = [&](std::string_view operation, int error) {
        ::unlinkat(folder.get(), temporary.c_str(), 0);
        return ioFailure(operation, folder_ / temporary, error);
    };
    // The umask may have narrowed the mode further; the file is the owner's to read and write.
    if (::fchmod(file.get(), kFileMode) != 0) {
        return discard("restricting", errno);
    }
    if (!writeAll(file.get(), data)) {
        return discard("writing", errno);
    }
    if (::fsync(file.get()) != 0) {
        return discard("flushing", errno);
    }
    if (!file.close()) {
        return discard("closing", errno);
    }
    if (::renameat(folder.get(), temporary.c_str(), folder.get(), name->c_str()) != 0) {
        const int error = errno;
        const std::string operation = "renaming to " + *name + ":";
        return discard(operation, error);
    }
    if (::fsync(folder.get()) != 0) {
        return ioFailure("flushing", folder_, errno);
    }
    return KeychainResult::found();
}

KeychainResult FileKeychain::remove(const std::string& service, const std::string& account) {
    const auto name = credentialFileName(service, account);
    if (!name) {
        return unnamable();
    }
    KeychainResult status;
    const FileDescriptor folder = openFolder(folder_, false, status);
    if (!folder.valid()) {
        return status;
    }
    if (::unlinkat(folder.get(), name->c_str(), 0) != 0) {
        const int error = errno;
        return error == ENOENT ? KeychainResult::notFound() : ioFailure("removing", folder_ / *name, error);
    }
    if (::fsync(folder.get()) != 0) {
        return ioFailure("flushing", folder_, errno);
    }
    return KeychainResult::found();
}

} // namespace veltrane
