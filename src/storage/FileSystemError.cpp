#include "storage/FileSystemError.h"

namespace veltrane {

PlatformError makeFileSystemError(const std::error_code& error) {
    PlatformError platformError;
    platformError.domain = "FileSystem";
    platformError.code = error.value();
    platformError.localizedDescription = error.message();
    return platformError;
}

} // namespace veltrane
