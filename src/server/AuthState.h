#pragma once

#include "server/UserProfile.h"

#include <optional>
#include <string>

namespace veltrane {

// The sign-in state that decides between the sign-in form and the main screen.
class AuthState {
public:
    enum class Kind { authenticated, error, unknown, unauthenticated, authenticating };

    [[nodiscard]] static AuthState authenticated(std::optional<UserProfile> profile);
    [[nodiscard]] static AuthState error(std::string message);
    [[nodiscard]] static AuthState unknown() { return AuthState(Kind::unknown); }
    [[nodiscard]] static AuthState unauthenticated() { return AuthState(Kind::unauthenticated); }
    [[nodiscard]] static AuthState authenticating() { return AuthState(Kind::authenticating); }

    [[nodiscard]] Kind kind() const noexcept { return kind_; }
    // Present only for `authenticated` with a profile.
    [[nodiscard]] const std::optional<UserProfile>& profile() const noexcept { return profile_; }
    // The message of an `error` state, empty otherwise.
    [[nodiscard]] const std::string& errorMessage() const noexcept { return errorMessage_; }

    // Two authenticated states are equal when their profiles have the same id, two errors when
    // their messages are equal, the other cases when they are the same case.
    [[nodiscard]] bool operator==(const AuthState& other) const;

private:
    explicit AuthState(Kind kind) : kind_(kind) {}

    Kind kind_ = Kind::unknown;
    std::optional<UserProfile> profile_;
    std::string errorMessage_;
};

} // namespace veltrane
