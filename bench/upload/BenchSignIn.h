#pragma once

#include <optional>
#include <string>

namespace veltrane::bench {

// Signs the demo user in at the stand-in server on 127.0.0.1:`port` through the identity
// service's password flow; the session token, or absent (reason on standard error).
class BenchSignIn {
public:
    [[nodiscard]] static std::optional<std::string> demoUserToken(int port);
};

} // namespace veltrane::bench
