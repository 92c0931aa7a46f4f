#include "platform/encoding/MediaFileWriter.h"

namespace veltrane {

std::filesystem::path recoveryCopyPath(const std::filesystem::path& path) {
    std::filesystem::path copy = path;
    copy += ".frag";
    return copy;
}

} // namespace veltrane
