#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace veltrane {

// The signed-in user, as "/auth/me" returns it.
struct UserProfile {
    std::string id;
    std::string email;
    std::optional<std::string> name;
    bool isActive = false;
    bool isSuperuser = false;
    std::optional<std::string> lastLogin;

    // Throws DecodingError.
    [[nodiscard]] static UserProfile fromJson(const nlohmann::json& value);
    [[nodiscard]] bool operator==(const UserProfile&) const = default;
};

} // namespace veltrane
