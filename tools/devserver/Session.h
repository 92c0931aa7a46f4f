#pragma once

#include <chrono>
#include <string>

namespace veltrane::devserver {

// A signed-in session, found by its bearer token.
struct Session {
    std::string token;
    std::string id;
    std::string userId;
    std::chrono::system_clock::time_point authenticatedAt;
    std::chrono::system_clock::time_point expiresAt;
    // Authenticated requests made with the token so far.
    int requestCount = 0;
};

} // namespace veltrane::devserver
