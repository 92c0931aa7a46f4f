#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace veltrane {

// A meeting as the server sends it; date-like fields stay the server's strings.
struct MeetingResponse {
    std::string id;
    std::string projectId;
    std::string name;
    std::optional<std::string> scheduledDate;
    std::optional<std::string> endDate;
    std::optional<std::string> createdAt;

    // Throws DecodingError.
    [[nodiscard]] static MeetingResponse fromJson(const nlohmann::json& value);
    // Absent optional fields are left out.
    [[nodiscard]] nlohmann::json toJson() const;
    [[nodiscard]] bool operator==(const MeetingResponse&) const = default;
};

} // namespace veltrane
