#include "platform/keychain/impl/SecretServiceKeychain.h"

#include "platform/keychain/PrivateSecretService.h"

// libsecret clashes with Qt's `signals` keyword: this file must include no Qt header.
#include <libsecret/secret.h>

namespace veltrane {
namespace {

// Locks the keyring's default collection, as a screen lock or the user would. Nothing here can
// unlock it again (that takes a password prompt), so this test runs in a keyring of its own.
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

// A locked keyring answers searches with "nothing" and no error; reporting "not found" would let
// the caller believe there is no token, so the keyring counts as unavailable instead, and an item
// stored before is kept.
TEST(LockedSecretServiceTest, EveryCallReportsUnavailableAndTheItemIsKept) {
    ASSERT_TRUE(test::runsWithPrivateSecretService()) << test::kRunThroughScript;
    SecretServiceKeychain keychain;
    ASSERT_EQ(keychain.add(test::kTestService, "storedBeforeLocking", "secret", true), kKeychainSuccess);
    lockDefaultCollection();
    test::expectEveryCallUnavailable(keychain, "storedBeforeLocking");
    test::expectEveryCallUnavailable(keychain, "neverStored");
}

} // namespace
} // namespace veltrane
