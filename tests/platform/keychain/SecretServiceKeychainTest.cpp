// A locked keyring and an unreachable Secret Service, in a private D-Bus session; storing, reading and
// deleting the token against a working one: CliServer.SecretService.
#include "platform/keychain/impl/SecretServiceKeychain.h"

// libsecret and GLib clash with Qt's `signals` keyword: this file must include no Qt header.
#include <gtest/gtest.h>
#include <libsecret/secret.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>

namespace veltrane {
namespace {

const std::string kService = "co.brimfold.VeltraneRecorder.tests";

// Tests that write to the Secret Service must never reach the user's.
void requirePrivateSecretService() {
    const char* marker = std::getenv("VELTRANE_PRIVATE_SECRET_SERVICE");
    ASSERT_TRUE(marker != nullptr && std::string_view(marker) == "1")
        << "run this test through scripts/with-secret-service.sh, never against the user's session";
}

// Lookup, store and delete all report the Secret Service as unavailable, so that callers fall back.
void expectEveryCallUnavailable(SecretServiceKeychain& keychain, const char* account = "accessToken") {
    const auto found = keychain.lookUp(kService, account);
    EXPECT_EQ(found.status, KeychainResult::Status::unavailable);
    EXPECT_FALSE(found.data.has_value());
    EXPECT_EQ(keychain.store(kService, account, "secret").status, KeychainResult::Status::unavailable);
    EXPECT_EQ(keychain.remove(kService, account).status, KeychainResult::Status::unavailable);
}

// A locked keyring answers searches with nothing and no error: "not found" would make the caller
// believe there is no token, so it is unavailable, and the item stored before is kept.
TEST(LockedSecretServiceTest, EveryCallReportsUnavailableAndTheItemIsKept) {
    requirePrivateSecretService();
    SecretServiceKeychain keychain;
    ASSERT_EQ(keychain.store(kService, "storedBeforeLocking", "secret").status,
              KeychainResult::Status::found);
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
    expectEveryCallUnavailable(keychain, "storedBeforeLocking");
    expectEveryCallUnavailable(keychain, "neverStored");
}

GDBusMessage* dropIncomingMethodCalls(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
        g_object_unref(message);
        return nullptr;
    }
    return message;
}

// ctest sets SECRET_SERVICE_BUS_NAME to a name without a provider, or to one the test takes and never
// answers on (a hung keyring daemon); unbounded calls would wait D-Bus's 25 s (CMake's limit catches it).
TEST(UnreachableSecretServiceTest, BusWithoutProviderIsUnavailable) {
    requirePrivateSecretService();
    SecretServiceKeychain keychain;
    expectEveryCallUnavailable(keychain);
}

TEST(UnreachableSecretServiceTest, ProviderThatNeverAnswersIsUnavailable) {
    requirePrivateSecretService();
    const char* busName = std::getenv("SECRET_SERVICE_BUS_NAME");
    ASSERT_TRUE(busName != nullptr && std::string_view(busName) != "org.freedesktop.secrets");
    GError* error = nullptr;
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    ASSERT_NE(address, nullptr) << error->message;
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_free(address);
    ASSERT_NE(connection, nullptr) << error->message;
    g_dbus_connection_add_filter(connection, dropIncomingMethodCalls, nullptr, nullptr);
    constexpr guint32 kDoNotQueue = 4;
    GVariant* reply = g_dbus_connection_call_sync(
        connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", busName, kDoNotQueue), G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &error);
    ASSERT_NE(reply, nullptr) << error->message;
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    ASSERT_EQ(result, 1u); // DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER
    SecretServiceKeychain keychain({.timeLimitMs = std::chrono::milliseconds(200)});
    expectEveryCallUnavailable(keychain);
    g_dbus_connection_close_sync(connection, nullptr, nullptr);
    g_object_unref(connection);
}

} // namespace
} // namespace veltrane
