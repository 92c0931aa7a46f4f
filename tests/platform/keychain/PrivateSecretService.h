#pragma once

#include <cstdlib>
#include <string_view>

namespace veltrane::test {

// True when the process runs under scripts/with-secret-service.sh, with a private session bus and
// a throw-away keyring: tests that write to the Secret Service must never reach the user's.
[[nodiscard]] inline bool runsWithPrivateSecretService() {
    const char* marker = std::getenv("VELTRANE_PRIVATE_SECRET_SERVICE");
    return marker != nullptr && std::string_view(marker) == "1";
}

inline constexpr const char* kRunThroughScript =
    "run this test through scripts/with-secret-service.sh, never against the user's session";

} // namespace veltrane::test
