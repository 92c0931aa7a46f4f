#include "platform/keychain/impl/SecretServiceKeychain.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace veltrane {
namespace {

const std::string kService = "co.brimfold.VeltraneRecorder.tests";

// No session bus at all: the first connection attempt fails at once. The bus address is set
// before anything in this process talks to D-Bus (GLib keeps the session connection once made).
class SecretServiceNoBusTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1); }

    SecretServiceKeychain keychain_;
};

TEST_F(SecretServiceNoBusTest, LookupReportsUnavailable) {
    const auto found = keychain_.copyMatching(kService, "accessToken");
    EXPECT_EQ(found.status, kKeychainMissingEntitlement);
    EXPECT_FALSE(found.data.has_value());
}

TEST_F(SecretServiceNoBusTest, StoreReportsUnavailable) {
    EXPECT_EQ(keychain_.add(kService, "accessToken", "secret", true), kKeychainMissingEntitlement);
}

TEST_F(SecretServiceNoBusTest, DeleteReportsUnavailable) {
    EXPECT_EQ(keychain_.deleteItem(kService, "accessToken"), kKeychainMissingEntitlement);
}

} // namespace
} // namespace veltrane
