#include "platform/keychain/impl/SecretServiceKeychain.h"

#include "platform/keychain/PrivateSecretService.h"

// libsecret clashes with Qt's `signals` keyword: this file must include no Qt header.
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <string>
#include <vector>

namespace veltrane {
namespace {

const std::string kService = "co.brimfold.VeltraneRecorder.tests";

struct FoundItem {
    std::string label;
    std::string path;
};

// Every item in the keyring (whatever its schema) with these service and account attributes,
// as another Secret Service client sees them.
std::vector<FoundItem> itemsWithAttributes(const std::string& service, const std::string& account) {
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    g_hash_table_insert(attributes, const_cast<char*>("service"), const_cast<char*>(service.c_str()));
    g_hash_table_insert(attributes, const_cast<char*>("account"), const_cast<char*>(account.c_str()));
    GError* error = nullptr;
    GList* items =
        secret_service_search_sync(nullptr, nullptr, attributes, SECRET_SEARCH_ALL, nullptr, &error);
    g_hash_table_unref(attributes);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    std::vector<FoundItem> found;
    for (GList* entry = items; entry != nullptr; entry = entry->next) {
        auto* item = static_cast<SecretItem*>(entry->data);
        gchar* label = secret_item_get_label(item);
        found.push_back({label, g_dbus_proxy_get_object_path(G_DBUS_PROXY(item))});
        g_free(label);
    }
    g_list_free_full(items, g_object_unref);
    return found;
}

std::string defaultCollectionPath() {
    GError* error = nullptr;
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, &error);
    EXPECT_NE(service, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    if (service == nullptr) {
        return {};
    }
    SecretCollection* collection = secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                                                    SECRET_COLLECTION_NONE, nullptr, &error);
    EXPECT_EQ(error, nullptr) << (error ? error->message : "");
    g_clear_error(&error);
    if (collection == nullptr) {
        g_object_unref(service);
        return {};
    }
    std::string path = g_dbus_proxy_get_object_path(G_DBUS_PROXY(collection));
    g_object_unref(collection);
    g_object_unref(service);
    return path;
}

class SecretServiceKeychainTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(test::runsWithPrivateSecretService()) << test::kRunThroughScript; }

    SecretServiceKeychain keychain_;
};

TEST_F(SecretServiceKeychainTest, StoreLookupDeleteRoundTrip) {
    ASSERT_EQ(keychain_.add(kService, "roundTrip", "token-1", true), kKeychainSuccess);
    const auto found = keychain_.copyMatching(kService, "roundTrip");
    EXPECT_EQ(found.status, kKeychainSuccess);
    EXPECT_EQ(found.data, "token-1");
    EXPECT_EQ(keychain_.deleteItem(kService, "roundTrip"), kKeychainSuccess);
    const auto gone = keychain_.copyMatching(kService, "roundTrip");
    EXPECT_EQ(gone.status, kKeychainItemNotFound);
    EXPECT_FALSE(gone.data.has_value());
}

TEST_F(SecretServiceKeychainTest, MissingItemIsNotFound) {
    const auto found = keychain_.copyMatching(kService, "neverStored");
    EXPECT_EQ(found.status, kKeychainItemNotFound);
    EXPECT_FALSE(found.data.has_value());
    EXPECT_EQ(keychain_.deleteItem(kService, "neverStored"), kKeychainItemNotFound);
}

TEST_F(SecretServiceKeychainTest, NonUtf8BytesSurvive) {
    const std::string bytes("\xff\xfe\x00\x80 tail\xc3", 11);
    ASSERT_EQ(keychain_.add(kService, "binary", bytes, true), kKeychainSuccess);
    EXPECT_EQ(keychain_.copyMatching(kService, "binary").data, bytes);
    EXPECT_EQ(keychain_.deleteItem(kService, "binary"), kKeychainSuccess);
}

TEST_F(SecretServiceKeychainTest, StoringAgainReplacesTheItem) {
    ASSERT_EQ(keychain_.add(kService, "replaced", "old", true), kKeychainSuccess);
    ASSERT_EQ(keychain_.add(kService, "replaced", "new", true), kKeychainSuccess);
    EXPECT_EQ(keychain_.copyMatching(kService, "replaced").data, "new");
    EXPECT_EQ(itemsWithAttributes(kService, "replaced").size(), 1U);
    EXPECT_EQ(keychain_.deleteItem(kService, "replaced"), kKeychainSuccess);
}

TEST_F(SecretServiceKeychainTest, ItemsAreKeyedByServiceAndAccount) {
    ASSERT_EQ(keychain_.add(kService, "first", "1", true), kKeychainSuccess);
    ASSERT_EQ(keychain_.add(kService, "second", "2", true), kKeychainSuccess);
    ASSERT_EQ(keychain_.add(kService + ".other", "first", "3", true), kKeychainSuccess);
    EXPECT_EQ(keychain_.copyMatching(kService, "first").data, "1");
    EXPECT_EQ(keychain_.copyMatching(kService, "second").data, "2");
    EXPECT_EQ(keychain_.copyMatching(kService + ".other", "first").data, "3");
    EXPECT_EQ(keychain_.deleteItem(kService, "first"), kKeychainSuccess);
    EXPECT_EQ(keychain_.copyMatching(kService, "second").data, "2");
    EXPECT_EQ(keychain_.copyMatching(kService + ".other", "first").data, "3");
    EXPECT_EQ(keychain_.deleteItem(kService, "second"), kKeychainSuccess);
    EXPECT_EQ(keychain_.deleteItem(kService + ".other", "first"), kKeychainSuccess);
}

TEST_F(SecretServiceKeychainTest, ItemIsLabelledAndKeptInTheDefaultCollection) {
    ASSERT_EQ(keychain_.add(kService, "accessToken", "t", true), kKeychainSuccess);
    const auto items = itemsWithAttributes(kService, "accessToken");
    ASSERT_EQ(items.size(), 1U);
    EXPECT_EQ(items.front().label, "VeltraneRecorder: accessToken");
    const std::string collection = defaultCollectionPath();
    ASSERT_FALSE(collection.empty());
    EXPECT_EQ(items.front().path.rfind(collection + "/", 0), 0U) << items.front().path;
    EXPECT_EQ(keychain_.deleteItem(kService, "accessToken"), kKeychainSuccess);
}

TEST_F(SecretServiceKeychainTest, NamesThatCannotBeAttributesAreRejected) {
    const std::string notUtf8("acc\xff", 4);
    const std::string withNul("acc\0x", 5);
    for (const auto& account : {notUtf8, withNul}) {
        EXPECT_EQ(keychain_.add(kService, account, "x", true), kKeychainParam);
        EXPECT_EQ(keychain_.copyMatching(kService, account).status, kKeychainParam);
        EXPECT_EQ(keychain_.deleteItem(kService, account), kKeychainParam);
    }
}

} // namespace
} // namespace veltrane
