#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

namespace veltrane::devserver {

// The answer shapes shared by the routes.
class Responses {
public:
    static void json(httplib::Response& response, int status, const nlohmann::json& body);
    static void text(httplib::Response& response, int status, std::string_view body);
    // 401 with {"detail": "Not authenticated"}.
    static void notAuthenticated(httplib::Response& response);
    // The identity service's error body: {"error": {"id"?, "code", "status", "reason", "message"}}.
    static void identityError(httplib::Response& response, int status, const std::string& errorId,
                              const std::string& reason, const std::string& message);
    // The token of an "Authorization: Bearer <token>" header.
    [[nodiscard]] static std::optional<std::string> bearerToken(const httplib::Request& request);
};

} // namespace veltrane::devserver
