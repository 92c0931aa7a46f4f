#include "devserver/SessionRegistry.h"

namespace veltrane::devserver {

namespace {

constexpr auto kSessionLifetime = std::chrono::hours(24);

} // namespace

Session SessionRegistry::open(std::string token, std::string sessionId, std::string userId) {
    const auto now = std::chrono::system_clock::now();
    Session session{.token = std::move(token),
                    .id = std::move(sessionId),
                    .userId = std::move(userId),
                    .authenticatedAt = now,
                    .expiresAt = now + kSessionLifetime};
    std::scoped_lock lock(mutex_);
    sessions_[session.token] = session;
    return session;
}

std::optional<Session> SessionRegistry::authenticate(const std::string& token) {
    std::scoped_lock lock(mutex_);
    const auto found = sessions_.find(token);
    if (found == sessions_.end() || found->second.expiresAt <= std::chrono::system_clock::now()) {
        return std::nullopt;
    }
    Session& session = found->second;
    if (expiresAfterRequests_ > 0 && session.requestCount >= expiresAfterRequests_) {
        return std::nullopt;
    }
    ++session.requestCount;
    return session;
}

void SessionRegistry::setExpiresAfterRequests(int requests) {
    std::scoped_lock lock(mutex_);
    expiresAfterRequests_ = requests;
}

} // namespace veltrane::devserver
