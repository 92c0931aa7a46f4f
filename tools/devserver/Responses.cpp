#include "devserver/Responses.h"

#include <cctype>

namespace veltrane::devserver {

namespace {

[[nodiscard]] const char* reasonPhrase(int status) {
    switch (status) {
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 410:
        return "Gone";
    case 422:
        return "Unprocessable Entity";
    default:
        return "Error";
    }
}

} // namespace

void Responses::json(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void Responses::text(httplib::Response& response, int status, std::string_view body) {
    response.status = status;
    response.set_content(std::string(body), "text/plain; charset=utf-8");
}

void Responses::notAuthenticated(httplib::Response& response) {
    response.set_header("WWW-Authenticate", "Bearer");
    json(response, 401, {{"detail", "Not authenticated"}});
}

void Responses::identityError(httplib::Response& response, int status, const std::string& errorId,
                              const std::string& reason, const std::string& message) {
    nlohmann::json error = {
        {"code", status}, {"status", reasonPhrase(status)}, {"reason", reason}, {"message", message}};
    if (!errorId.empty()) {
        error["id"] = errorId;
    }
    json(response, status, {{"error", std::move(error)}});
}

std::optional<std::string> Responses::bearerToken(const httplib::Request& request) {
    const std::string header = request.get_header_value("Authorization");
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() <= kScheme.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kScheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(header[i])) !=
            std::tolower(static_cast<unsigned char>(kScheme[i]))) {
            return std::nullopt;
        }
    }
    return header.substr(kScheme.size());
}

} // namespace veltrane::devserver
