#pragma once

#include "platform/keychain/impl/SecretServiceKeychain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace veltrane::test {

inline constexpr const char* kTestService = "co.brimfold.VeltraneRecorder.tests";

// True when the process runs under scripts/with-secret-service.sh, with a private session bus and
// a throw-away keyring: tests that write to the Secret Service must never reach the user's.
[[nodiscard]] inline bool runsWithPrivateSecretService() {
    const char* marker = std::getenv("VELTRANE_PRIVATE_SECRET_SERVICE");
    return marker != nullptr && std::string_view(marker) == "1";
}

inline constexpr const char* kRunThroughScript =
    "run this test through scripts/with-secret-service.sh, never against the user's session";

// Lookup, store and delete all report the Secret Service as unavailable, so that callers fall back.
inline void expectEveryCallUnavailable(SecretServiceKeychain& keychain, const char* account = "accessToken") {
    const auto found = keychain.copyMatching(kTestService, account);
    EXPECT_EQ(found.status, kKeychainMissingEntitlement);
    EXPECT_FALSE(found.data.has_value());
    EXPECT_EQ(keychain.add(kTestService, account, "secret", true), kKeychainMissingEntitlement);
    EXPECT_EQ(keychain.deleteItem(kTestService, account), kKeychainMissingEntitlement);
}

} // namespace veltrane::test
