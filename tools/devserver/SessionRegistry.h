#pragma once

#include "devserver/Session.h"

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace veltrane::devserver {

// The session tokens handed out by sign-in; safe to use from several threads.
class SessionRegistry {
public:
    [[nodiscard]] Session open(std::string token, std::string sessionId, std::string userId);
    // Counts one authenticated request. Absent when the token is unknown, past its expiry, or has
    // already served the allowed number of requests.
    [[nodiscard]] std::optional<Session> authenticate(const std::string& token);
    // 0 lets tokens serve any number of requests.
    void setExpiresAfterRequests(int requests);

private:
    std::mutex mutex_;
    std::map<std::string, Session> sessions_;
    int expiresAfterRequests_ = 0;
};

} // namespace veltrane::devserver
