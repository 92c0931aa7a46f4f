#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace veltrane {

// A project as the server sends it; date-like fields stay the server's strings.
struct ProjectResponse {
    std::string id;
    std::string name;
    std::optional<std::string> description;
    std::string status;
    std::optional<std::string> createdAt;
    std::optional<std::string> updatedAt;

    // Throws DecodingError.
    [[nodiscard]] static ProjectResponse fromJson(const nlohmann::json& value);
    // Absent optional fields are left out.
    [[nodiscard]] nlohmann::json toJson() const;
    [[nodiscard]] bool operator==(const ProjectResponse&) const = default;
};

} // namespace veltrane
