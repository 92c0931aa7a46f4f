#include "server/AuthState.h"

namespace veltrane {

AuthState AuthState::authenticated(std::optional<UserProfile> profile) {
    AuthState state(Kind::authenticated);
    state.profile_ = std::move(profile);
    return state;
}

AuthState AuthState::error(std::string message) {
    AuthState state(Kind::error);
    state.errorMessage_ = std::move(message);
    return state;
}

bool AuthState::operator==(const AuthState& other) const {
    if (kind_ != other.kind_) {
        return false;
    }
    switch (kind_) {
    case Kind::authenticated:
        if (profile_.has_value() != other.profile_.has_value()) {
            return false;
        }
        return !profile_ || profile_->id == other.profile_->id;
    case Kind::error:
        return errorMessage_ == other.errorMessage_;
    case Kind::unknown:
    case Kind::unauthenticated:
    case Kind::authenticating:
        return true;
    }
    return true;
}

} // namespace veltrane
