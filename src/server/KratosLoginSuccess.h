#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace veltrane {

// The identity server's answer to an accepted login.
struct KratosLoginSuccess {
    std::string sessionToken;

    // Throws DecodingError.
    [[nodiscard]] static KratosLoginSuccess fromJson(const nlohmann::json& value);
};

} // namespace veltrane
