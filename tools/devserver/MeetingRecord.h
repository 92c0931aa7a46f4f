#pragma once

#include <optional>
#include <string>

namespace veltrane::devserver {

struct MeetingRecord {
    std::string id;
    std::string projectId;
    std::string name;
    // Calendar dates as "yyyy-MM-dd".
    std::optional<std::string> scheduledDate;
    std::optional<std::string> endDate;
    std::optional<std::string> createdAt;
};

} // namespace veltrane::devserver
