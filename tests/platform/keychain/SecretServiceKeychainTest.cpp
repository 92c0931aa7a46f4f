#include "platform/keychain/impl/SecretServiceKeychain.h"

#include "platform/keychain/PrivateSecretService.h"

// libsecret clashes with Qt's `signals` keyword: this file must include no Qt header.
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <string>
#include <vector>

namespace veltrane {
namespace {

const std::string kService = test::kTestService;

// The labels and object paths of every item in the keyring (whatever its schema) with these
// service and account attributes, as another Secret Service client sees them.
std::vector<std::pair<std::string, std::string>> itemsWithAttributes(const std::string& account) {
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(kService.c_str()));
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    GList* items =
        secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, nullptr);
    g_hash_table_unref(attributes);
    std::vector<std::pair<std::string, std::string>> found;
    for (GList* entry = items; entry != nullptr; entry = entry->next) {
        gchar* label = secret_item_get_label(static_cast<SecretItem*>(entry->data));
        found.emplace_back(label, g_dbus_proxy_get_object_path(G_DBUS_PROXY(entry->data)));
        g_free(label);
    }
    g_list_free_full(items, g_object_unref);
    return found;
}

class SecretServiceKeychainTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::runsWithPrivateSecretService()) << test::kRunThroughScript; }

    SecretServiceKeychain keychain_;
};

TEST_F(SecretServiceKeychainTest, StoreReplaceLookupDeleteRoundTrip) {
    EXPECT_EQ(keychain_.copyMatching(kService, "accessToken").status, kKeychainItemNotFound);
    EXPECT_EQ(keychain_.deleteItem(kService, "accessToken"), kKeychainItemNotFound);
    const std::string bytes("\xff\xfe\x00\x80 tail\xc3", 11);
    ASSERT_EQ(keychain_.add(kService, "accessToken", "old", true), kKeychainSuccess);
    ASSERT_EQ(keychain_.add(kService, "accessToken", bytes, true), kKeychainSuccess);
    ASSERT_EQ(keychain_.add(kService, "other", "2", true), kKeychainSuccess);
    ASSERT_EQ(keychain_.add(kService + ".other", "accessToken", "3", true), kKeychainSuccess);
    const auto found = keychain_.copyMatching(kService, "accessToken");
    EXPECT_EQ(found.status, kKeychainSuccess);
    EXPECT_EQ(found.data, bytes);
    EXPECT_EQ(keychain_.copyMatching(kService + ".other", "accessToken").data, "3");

    // One item, labelled, in the default collection.
    const auto items = itemsWithAttributes("accessToken");
    ASSERT_EQ(items.size(), 1U);
    EXPECT_EQ(items.front().first, "VeltraneRecorder: accessToken");
    EXPECT_EQ(items.front().second.rfind("/org/freedesktop/secrets/collection/login/", 0), 0U)
        << items.front().second;

    EXPECT_EQ(keychain_.deleteItem(kService, "accessToken"), kKeychainSuccess);
    EXPECT_EQ(keychain_.copyMatching(kService, "accessToken").status, kKeychainItemNotFound);
    EXPECT_EQ(keychain_.copyMatching(kService, "other").data, "2");
    EXPECT_EQ(keychain_.deleteItem(kService, "other"), kKeychainSuccess);
    EXPECT_EQ(keychain_.deleteItem(kService + ".other", "accessToken"), kKeychainSuccess);
}

} // namespace
} // namespace veltrane
