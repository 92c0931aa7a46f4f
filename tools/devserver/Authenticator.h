#pragma once

#include "devserver/Session.h"
#include "devserver/SessionRegistry.h"

#include <httplib.h>

#include <optional>

namespace veltrane::devserver {

// Finds the session of a request's bearer token, counting the request against the token.
class Authenticator {
public:
    explicit Authenticator(SessionRegistry& sessions) : sessions_(sessions) {}

    [[nodiscard]] std::optional<Session> authenticate(const httplib::Request& request) const;

private:
    SessionRegistry& sessions_;
};

} // namespace veltrane::devserver
