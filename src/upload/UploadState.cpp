#include "upload/UploadState.h"

namespace veltrane {

std::string_view rawValue(UploadState state) {
    switch (state) {
    case UploadState::pending:
        return "pending";
    case UploadState::uploading:
        return "uploading";
    case UploadState::completed:
        return "completed";
    case UploadState::failed:
        return "failed";
    }
    return "pending";
}

std::optional<UploadState> uploadStateFromRawValue(std::string_view text) {
    for (const UploadState state :
         {UploadState::pending, UploadState::uploading, UploadState::completed, UploadState::failed}) {
        if (rawValue(state) == text) {
            return state;
        }
    }
    return std::nullopt;
}

} // namespace veltrane
