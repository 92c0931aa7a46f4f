#include "devserver/Authenticator.h"

#include "devserver/Responses.h"

namespace veltrane::devserver {

std::optional<Session> Authenticator::authenticate(const httplib::Request& request) const {
    const auto token = Responses::bearerToken(request);
    if (!token) {
        return std::nullopt;
    }
    return sessions_.authenticate(*token);
}

} // namespace veltrane::devserver
