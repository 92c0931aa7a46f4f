#include "devserver/UploadStore.h"

#include <algorithm>

namespace veltrane::devserver {

namespace {

constexpr const char* kIncomingFolder = ".incoming";
constexpr const char* kNoMeetingFolder = "no-meeting";
constexpr std::size_t kMaxFileNameBytes = 255;

} // namespace

UploadStore::UploadStore(std::filesystem::path dataDir, IdGenerator& ids)
    : dataDir_(std::move(dataDir)), ids_(ids) {}

bool UploadStore::prepare() const {
    std::error_code error;
    std::filesystem::create_directories(dataDir_ / kIncomingFolder, error);
    return !error;
}

std::unique_ptr<IncomingFile> UploadStore::receive() const {
    return std::make_unique<IncomingFile>(dataDir_ / kIncomingFolder / (ids_.uuid() + ".part"));
}

std::filesystem::path UploadStore::destination(const std::string& projectId,
                                               const std::optional<std::string>& meetingId,
                                               const std::string& fileName) const {
    return dataDir_ / projectId / meetingId.value_or(kNoMeetingFolder) / fileName;
}

bool UploadStore::isSafeFileName(std::string_view name) {
    if (name.empty() || name.size() > kMaxFileNameBytes || name == "." ||
        name.find("..") != std::string_view::npos) {
        return false;
    }
    return std::ranges::none_of(name, [](char c) {
        return c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

} // namespace veltrane::devserver
