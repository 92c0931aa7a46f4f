#include "platform/keychain/impl/SecretServiceKeychain.h"

#include "platform/keychain/PrivateSecretService.h"

// libsecret clashes with Qt's `signals` keyword: this file must include no Qt header.
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <string>

namespace veltrane {
namespace {

const std::string kService = "co.brimfold.VeltraneRecorder.tests";

// Locks the keyring's default collection, as a screen lock or the user would. Nothing here can
// unlock it again (that takes a password prompt), so these tests run in a keyring of their own.
void lockDefaultCollection() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    ASSERT_NE(service, nullptr) << (error ? error->message : "");
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, nullptr, &error);
    ASSERT_NE(collection, nullptr) << (error ? error->message : "no default collection");
    GList* objects = g_list_append(nullptr, collection);
    const gint locked = secret_service_lock_sync(service, objects, nullptr, nullptr, &error);
    g_list_free(objects);
    g_object_unref(collection);
    g_object_unref(service);
    ASSERT_EQ(error, nullptr) << error->message;
    ASSERT_EQ(locked, 1);
}

class LockedSecretServiceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!test::runsWithPrivateSecretService()) {
            return;
        }
        SecretServiceKeychain keychain;
        ASSERT_EQ(keychain.add(kService, "storedBeforeLocking", "secret", true), kKeychainSuccess);
        lockDefaultCollection();
    }

    void SetUp() override { ASSERT_TRUE(test::runsWithPrivateSecretService()) << test::kRunThroughScript; }

    SecretServiceKeychain keychain_;
};

// A locked keyring answers searches with "nothing" and no error; reporting "not found" would
// let the caller believe there is no token, so the keyring counts as unavailable instead.
TEST_F(LockedSecretServiceTest, LookupOfAStoredItemReportsUnavailable) {
    const auto found = keychain_.copyMatching(kService, "storedBeforeLocking");
    EXPECT_EQ(found.status, kKeychainMissingEntitlement);
    EXPECT_FALSE(found.data.has_value());
}

TEST_F(LockedSecretServiceTest, LookupOfAnyOtherItemReportsUnavailable) {
    EXPECT_EQ(keychain_.copyMatching(kService, "neverStored").status, kKeychainMissingEntitlement);
}

TEST_F(LockedSecretServiceTest, StoreReportsUnavailableSoTheCallerFallsBack) {
    EXPECT_EQ(keychain_.add(kService, "storedWhileLocked", "secret", true), kKeychainMissingEntitlement);
}

TEST_F(LockedSecretServiceTest, DeleteReportsUnavailableAndKeepsTheItem) {
    EXPECT_EQ(keychain_.deleteItem(kService, "storedBeforeLocking"), kKeychainMissingEntitlement);
    EXPECT_EQ(keychain_.copyMatching(kService, "storedBeforeLocking").status, kKeychainMissingEntitlement);
}

} // namespace
} // namespace veltrane
