#include "storage/WriterStatusDescription.h"

namespace veltrane {

std::string describeWriterStatus(MediaWriterStatus status) {
    switch (status) {
    case MediaWriterStatus::Unknown:
        return "unknown";
    case MediaWriterStatus::Writing:
        return "writing";
    case MediaWriterStatus::Completed:
        return "completed";
    case MediaWriterStatus::Failed:
        return "failed";
    case MediaWriterStatus::Cancelled:
        return "cancelled";
    }
    return "status " + std::to_string(static_cast<int>(status));
}

} // namespace veltrane
