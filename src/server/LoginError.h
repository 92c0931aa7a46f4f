#pragma once

#include "server/ServerAccessError.h"

namespace veltrane {

// A sign-in failure whose message is shown to the user as it is.
class LoginError : public ServerAccessError {
public:
    explicit LoginError(std::string message) : ServerAccessError(std::move(message)) {}

    [[nodiscard]] const std::string& message() const noexcept { return description(); }
    [[nodiscard]] std::string debugDescription() const override { return "LoginError(" + message() + ")"; }
};

} // namespace veltrane
